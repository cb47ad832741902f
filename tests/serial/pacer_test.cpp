// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/pacer.h"

#include "link/frames.h"

#include <chrono>
#include <cmath>
#include <gtest/gtest.h>

namespace {

const double kByteMs = std::chrono::duration<double, std::milli>(frames::kByteTime).count();
constexpr int kWanted = 71;     // an echoed request and its reply
constexpr double kBunchMs = 16; // a USB adapter hands bytes over this often

// How the far end answers one request.
struct Reply {
    double lateMs = 0;   // before its first byte, beyond the wire's own time
    int pauseAfter = -1; // bytes sent before it pauses, -1: no pause
    double pauseMs = 0;
    bool bunched = false; // through a USB adapter
};

// What serving one reply cost and how soon its end was noticed.
struct Served {
    int wakes = 0;
    double firstWakeMs = -1;   // after the request was sent
    double noticedAfterMs = 0; // after the last byte could be read
};

// The serial control's side: after the request it asks the pacer, then sleeps
// until the pacer's look or, when it listens, the line's next bytes.
Served serve(Pacer& pacer, const Reply& r) {
    auto readableAt = [&](int k) {
        const double came =
            r.lateMs + (k + 1) * kByteMs + (r.pauseAfter >= 0 && k >= r.pauseAfter ? r.pauseMs : 0);
        return r.bunched ? std::ceil(came / kBunchMs) * kBunchMs : came;
    };
    auto waitingAt = [&](double t) {
        int n = 0;
        while (n < kWanted && readableAt(n) <= t)
            ++n;
        return n;
    };
    Served s;
    double t = 0;
    bool stalled = false;
    Pacer::Woken by = Pacer::Woken::No;
    for (int waiting = 0; s.wakes < 1000; ++s.wakes) {
        const Pacer::Plan plan =
            pacer.plan({waiting, kWanted, t, 0, kByteMs, r.bunched, stalled, by});
        if (plan.ready) {
            s.noticedAfterMs = t - readableAt(kWanted - 1);
            return s;
        }
        const double look = t + plan.lookInMs;
        const double next = waiting < kWanted ? readableAt(waiting) : look;
        by = plan.listen && next <= look ? Pacer::Woken::ByLine : Pacer::Woken::ByTimer;
        t = by == Pacer::Woken::ByLine ? next : look;
        if (s.firstWakeMs < 0)
            s.firstWakeMs = t;
        const int now = waitingAt(t);
        stalled = now == waiting;
        waiting = now;
    }
    ADD_FAILURE() << "the reply was never noticed";
    return s;
}

// Whatever the line does, the program hears of a reply as soon as its last
// byte is there, at the cost of a few wake-ups, and never wakes before the
// reply can nearly all have crossed the line: not once per byte.
TEST(Pacer, NoticesAReplyAtOnceWithFewWakeUps) {
    const double nearlyDueMs = (kWanted - 3) * kByteMs;
    // clang-format off
    const struct { const char* name; Reply reply; int mostWakes; } cases[] = {
        {"on time", {}, 3},                           {"on time, bunched", {0, -1, 0, true}, 3},
        {"20 ms late", {20}, 4},                      {"20 ms late, bunched", {20, -1, 0, true}, 4},
        {"a 50 ms pause mid-way", {0, 30, 50}, 5},    {"a pause, bunched", {0, 30, 50, true}, 5},
        {"a pause near the end", {0, 69, 30}, 5},
    };
    // clang-format on
    for (const auto& c : cases) {
        Pacer pacer;
        const Served s = serve(pacer, c.reply);
        EXPECT_LE(s.wakes, c.mostWakes) << c.name;
        EXPECT_GE(s.firstWakeMs, nearlyDueMs) << c.name;
        EXPECT_LE(s.noticedAfterMs, 1.0) << c.name;
    }
}

// A far end that always answers late is slept through for as long; when it
// answers on time again the pacer catches up within a few replies.
TEST(Pacer, LearnsHowLateTheFarEndAnswers) {
    Pacer fresh, pacer;
    const Served onTime = serve(fresh, {});
    Served late;
    for (int i = 0; i < 20; ++i)
        late = serve(pacer, {25});
    EXPECT_GE(late.firstWakeMs, onTime.firstWakeMs + 15);
    EXPECT_LE(late.noticedAfterMs, 1.0);
    Served back;
    for (int i = 0; i < 10; ++i)
        back = serve(pacer, {});
    EXPECT_LE(back.noticedAfterMs, 1.0);
    EXPECT_LE(back.wakes, onTime.wakes);
}

} // namespace

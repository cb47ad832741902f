// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/pacer.h"

#include "link/frames.h"

#include <chrono>
#include <cmath>
#include <gtest/gtest.h>

namespace {

const double kByteMs = std::chrono::duration<double, std::milli>(frames::kByteTime).count();
constexpr int kWanted = 71; // an echoed request and its reply

// How the far end answers one request: late by `lateMs` beyond the wire's own
// time, pausing for `pauseMs` after `pauseAfter` bytes, through a USB adapter
// that hands bytes over every 16 ms (`bunched`).
struct Reply {
    double lateMs = 0;
    int pauseAfter = kWanted;
    double pauseMs = 0;
    bool bunched = false;
};

// What serving one reply cost: wake-ups, the first of them (ms after the
// request), and how long after its last byte could be read the reply was noticed.
struct Served {
    int wakes = 0;
    double firstWakeMs = -1, noticedAfterMs = 0;
};

// The serial control's side: after the request it asks the pacer, then sleeps
// until the pacer's look or, when it listens, the line's next bytes.
Served serve(Pacer& pacer, const Reply& r) {
    auto readableAt = [&](int k) {
        const double came = r.lateMs + (k + 1) * kByteMs + (k >= r.pauseAfter ? r.pauseMs : 0);
        return r.bunched ? std::ceil(came / 16) * 16 : came;
    };
    Served s;
    double t = 0;
    int waiting = 0;
    bool stalled = false;
    for (auto by = Pacer::Woken::No; s.wakes < 1000; ++s.wakes) {
        const Pacer::Plan plan =
            pacer.plan({waiting, kWanted, t, 0, kByteMs, r.bunched, stalled, by});
        if (plan.ready)
            return s.noticedAfterMs = t - readableAt(kWanted - 1), s;
        const double look = t + plan.lookInMs, next = readableAt(waiting);
        by = plan.listen && next <= look ? Pacer::Woken::ByLine : Pacer::Woken::ByTimer;
        t = by == Pacer::Woken::ByLine ? next : look;
        s.firstWakeMs = s.firstWakeMs < 0 ? t : s.firstWakeMs;
        const int before = waiting;
        while (waiting < kWanted && readableAt(waiting) <= t)
            ++waiting;
        stalled = waiting == before;
    }
    ADD_FAILURE() << "the reply was never noticed";
    return s;
}

// Whatever the line does, the program hears of a reply as soon as its last
// byte is there, at the cost of a few wake-ups, and never wakes before the
// reply can nearly all have crossed the line: not once per byte.
TEST(Pacer, NoticesAReplyAtOnceWithFewWakeUps) {
    // clang-format off
    const struct { const char* name; Reply reply; int mostWakes; } cases[] = {
        {"on time", {}, 3},                         {"on time, bunched", {0, kWanted, 0, true}, 3},
        {"20 ms late", {20}, 4},                    {"20 ms late, bunched", {20, kWanted, 0, true}, 4},
        {"a 50 ms pause mid-way", {0, 30, 50}, 5},  {"a pause, bunched", {0, 30, 50, true}, 5},
        {"a pause near the end", {0, 69, 30}, 5},
    };
    // clang-format on
    for (const auto& c : cases) {
        Pacer pacer;
        const Served s = serve(pacer, c.reply);
        EXPECT_LE(s.wakes, c.mostWakes) << c.name;
        EXPECT_GE(s.firstWakeMs, (kWanted - 3) * kByteMs) << c.name;
        EXPECT_LE(s.noticedAfterMs, 1.0) << c.name;
    }
}

// A far end that always answers late is slept through for as long.
TEST(Pacer, LearnsHowLateTheFarEndAnswers) {
    Pacer fresh, pacer;
    const Served onTime = serve(fresh, {});
    Served late;
    for (int i = 0; i < 20; ++i)
        late = serve(pacer, {25});
    EXPECT_GE(late.firstWakeMs, onTime.firstWakeMs + 15);
    EXPECT_LE(late.noticedAfterMs, 1.0);
}

} // namespace

// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/pacer.h"

#include <gtest/gtest.h>

namespace {

using W = Pacer::Woken;
constexpr double kByteMs = 10 * 1000.0 / 8192; // 8N1 at 8192 baud
constexpr double kReplyDueMs = 70 * kByteMs;   // the 71st byte of an exchange after the request

// When to listen and when to sleep, step by step on one line: a reply of 71
// bytes is slept through until it can be whole, a USB adapter's bunches are
// listened to, and how late the far end answers is learnt slowly upwards and
// at once downwards.
TEST(Pacer, SleepsUntilTheBytesCanBeThereAndLearnsHowLateTheyCome) {
    // clang-format off
    const struct { const char* name; qint64 waiting; qint64 wanted; std::optional<double> sinceOutputMs; bool bunched; bool stalled; W by; Pacer::Plan plan; } steps[] = {
        {"all there", 71, 71, {}, false, false, W::No, {true, false, 0}},
        {"a reply to come, nothing sent", 0, 71, {}, false, false, W::No, {false, false, 85}},
        {"longer than a look may wait", 0, 200, {}, false, false, W::No, {false, false, 100}},
        {"bunched line", 0, 71, {}, true, false, W::No, {false, true, 100}},
        {"nothing new at the last look", 10, 71, {}, false, true, W::No, {false, true, 100}},
        {"reply nearly due", 0, 71, kReplyDueMs - 4.5, true, false, W::No, {false, false, 4}},
        {"reply overdue", 0, 71, kReplyDueMs + 5, true, false, W::No, {false, true, 100}},
        {"came 16 ms late", 71, 71, kReplyDueMs + 16, true, false, W::ByLine, {true, false, 0}},
        {"nearly due, 2 ms later now", 0, 71, kReplyDueMs - 4.5, true, false, W::No, {false, false, 6}},
        {"late beyond belief: not learnt", 71, 71, kReplyDueMs + 500, true, false, W::ByLine, {true, false, 0}},
        {"still 2 ms later", 0, 71, kReplyDueMs - 4.5, true, false, W::No, {false, false, 6}},
        {"came on time", 71, 71, kReplyDueMs, true, false, W::ByLine, {true, false, 0}},
        {"on time again", 0, 71, kReplyDueMs - 4.5, true, false, W::No, {false, false, 4}},
    };
    // clang-format on
    Pacer pacer;
    for (const auto& s : steps) {
        Pacer::Line line;
        line.waiting = s.waiting;
        line.wanted = s.wanted;
        line.sinceOutputMs = s.sinceOutputMs;
        line.byteMs = kByteMs;
        line.bunched = s.bunched;
        line.stalled = s.stalled;
        line.by = s.by;
        const Pacer::Plan plan = pacer.plan(line);
        EXPECT_EQ(std::tuple(plan.ready, plan.listen, plan.lookInMs),
                  std::tuple(s.plan.ready, s.plan.listen, s.plan.lookInMs))
            << s.name;
    }
}

} // namespace

// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/pacer.h"

#include <gtest/gtest.h>

namespace {

// When to listen and when to sleep, step by step on one line at 8192 baud: a
// reply of 71 bytes is slept through until it can be whole, a USB adapter's
// bunches are listened to, and how late the far end answers is learnt slowly
// upwards and at once downwards.
TEST(Pacer, SleepsUntilTheBytesCanBeThereAndLearnsHowLateTheyCome) {
    using W = Pacer::Woken;
    const double byteMs = 10 * 1000.0 / 8192, dueMs = 70 * byteMs, nearlyDueMs = dueMs - 4.5;
    // clang-format off
    const struct { const char* name; qint64 waiting; std::optional<double> sinceOutputMs; bool bunched; bool stalled; W by; Pacer::Plan plan; } steps[] = {
        {"all there", 71, {}, false, false, W::No, {true, false, 0}},
        {"a reply to come, nothing sent", 0, {}, false, false, W::No, {false, false, 85}},
        {"bunched line", 0, {}, true, false, W::No, {false, true, 100}},
        {"nothing new at the last look", 10, {}, false, true, W::No, {false, true, 100}},
        {"reply nearly due", 0, nearlyDueMs, true, false, W::No, {false, false, 4}},
        {"reply overdue", 0, dueMs + 5, true, false, W::No, {false, true, 100}},
        {"came 16 ms late", 71, dueMs + 16, true, false, W::ByLine, {true, false, 0}},
        {"nearly due, 2 ms later now", 0, nearlyDueMs, true, false, W::No, {false, false, 6}},
        {"late beyond belief: not learnt", 71, dueMs + 500, true, false, W::ByLine, {true, false, 0}},
        {"came on time", 71, dueMs, true, false, W::ByLine, {true, false, 0}},
        {"nearly due again", 0, nearlyDueMs, true, false, W::No, {false, false, 4}},
    };
    // clang-format on
    Pacer pacer;
    for (const auto& s : steps) {
        const Pacer::Plan plan =
            pacer.plan({s.waiting, 71, s.sinceOutputMs, 0, byteMs, s.bunched, s.stalled, s.by});
        EXPECT_EQ(std::tuple(plan.ready, plan.listen, plan.lookInMs),
                  std::tuple(s.plan.ready, s.plan.listen, s.plan.lookInMs))
            << s.name;
    }
}

} // namespace

// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/sequence_host.h"

#include <QElapsedTimer>
#include <QMetaObject>
#include <functional>
#include <gtest/gtest.h>

namespace {

// The sequence's wait ends when the port's receive event comes, whenever in
// the wait it comes, and otherwise only at the deadline. On Windows an event
// delivered at the start of the waiting call once left the loop asleep until
// the deadline: a reply noticed 40 ms late, a poll lost now and then.
TEST(EventPump, AWaitEndsWithTheReceiveEventOrAtTheDeadline) {
    constexpr int kDeadlineMs = 1500;
    // clang-format off
    const struct { const char* when; std::function<void(MSComm&)> arrange; bool endsEarly; } cases[] = {
        {"no receive event", [](MSComm&) {}, false},
        {"raised before the wait",
         [](MSComm& comm) { emit comm.OnComm(); }, true},
        {"raised while the events before the wait are run",
         [](MSComm& comm) {
             QMetaObject::invokeMethod(&comm, [&comm] { emit comm.OnComm(); }, Qt::QueuedConnection);
         }, true},
        {"raised while the waiting call runs the events posted just before it",
         [](MSComm& comm) {
             QMetaObject::invokeMethod(&comm, [&comm] {
                 QMetaObject::invokeMethod(&comm, [&comm] { emit comm.OnComm(); }, Qt::QueuedConnection);
             }, Qt::QueuedConnection);
         }, true},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.when);
        MSComm comm;
        const bool quit = false;
        host::EventPump pump(comm, quit);
        c.arrange(comm);
        QElapsedTimer waited;
        waited.start();
        pump.yieldUntil(W32Comms::GetTickCount() + kDeadlineMs);
        if (c.endsEarly)
            EXPECT_LT(waited.elapsed(), kDeadlineMs / 2);
        else
            EXPECT_GE(waited.elapsed(), kDeadlineMs);
    }
}

} // namespace

// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/sequence_host.h"

#include <QElapsedTimer>
#include <QMetaObject>
#include <functional>
#include <gtest/gtest.h>

namespace {

// The sequence's wait ends when the port's receive event comes or the user
// asks to end the program, whenever in the wait that happens, and otherwise
// only at the deadline. On Windows an event delivered at the start of the
// waiting call once left the loop asleep until the deadline: a reply noticed
// 40 ms late, a poll lost now and then.
TEST(EventPump, AWaitEndsWithTheReceiveEventAQuitOrAtTheDeadline) {
    constexpr int kDeadlineMs = 1500;
    enum Ends { AtTheDeadline, Early, EarlyEndingTheProgram };
    // Runs `then` from the event loop: at once, or from the events posted
    // just before the waiting call, which runs them.
    auto soon = [](QObject* context, std::function<void()> then) {
        QMetaObject::invokeMethod(context, then, Qt::QueuedConnection);
    };
    auto later = [soon](QObject* context, std::function<void()> then) {
        soon(context, [=] { soon(context, then); });
    };
    // clang-format off
    const struct { const char* when; std::function<void(MSComm&, bool&)> arrange; Ends ends; } cases[] = {
        {"nothing comes", [](MSComm&, bool&) {}, AtTheDeadline},
        {"a receive event before the wait", [](MSComm& comm, bool&) { emit comm.OnComm(); }, Early},
        {"a receive event while the events before the wait are run",
         [=](MSComm& comm, bool&) { soon(&comm, [&comm] { emit comm.OnComm(); }); }, Early},
        {"a receive event while the waiting call runs the events posted just before it",
         [=](MSComm& comm, bool&) { later(&comm, [&comm] { emit comm.OnComm(); }); }, Early},
        {"a quit request while the waiting call runs the events posted just before it",
         [=](MSComm& comm, bool& quit) { later(&comm, [&quit] { quit = true; }); }, EarlyEndingTheProgram},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.when);
        MSComm comm;
        bool quit = false;
        host::EventPump pump(comm, quit);
        c.arrange(comm, quit);
        QElapsedTimer waited;
        waited.start();
        bool ended = false;
        try {
            pump.yieldUntil(W32Comms::GetTickCount() + kDeadlineMs);
        } catch (const host::ProgramEnd&) {
            ended = true;
        }
        EXPECT_EQ(ended, c.ends == EarlyEndingTheProgram);
        if (c.ends == AtTheDeadline)
            EXPECT_GE(waited.elapsed(), kDeadlineMs);
        else
            EXPECT_LT(waited.elapsed(), kDeadlineMs / 2);
    }
}

} // namespace

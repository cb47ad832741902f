// SPDX-License-Identifier: GPL-3.0-or-later
// Logging off and a console's Ctrl+C reach the window as the signals a Linux
// program gets; a session end that another program cancelled does not.
#include "ui/quit_signals.h"

#include <QAbstractEventDispatcher>
#include <QSignalSpy>
#include <csignal>
#include <gtest/gtest.h>
#include <windows.h>

namespace {

TEST(QuitSignalsWindows, SessionEndAndConsoleEventsArriveAsSignals) {
    const struct {
        const char* name;
        UINT message;
        WPARAM ending;
        QList<int> received;
    } cases[] = {
        {"asked whether the session may end", WM_QUERYENDSESSION, 0, {}},
        {"the session's end cancelled", WM_ENDSESSION, FALSE, {}},
        {"the session ends", WM_ENDSESSION, TRUE, {SIGTERM}},
    };
    for (const auto& c : cases) {
        QuitSignals quitSignals;
        QSignalSpy spy(&quitSignals, &QuitSignals::received);
        MSG message{};
        message.message = c.message;
        message.wParam = c.ending;
        message.lParam = ENDSESSION_LOGOFF;
        qintptr result = 0;
        QAbstractEventDispatcher::instance()->filterNativeEvent("windows_generic_MSG", &message,
                                                                &result);
        QList<int> received;
        for (const QList<QVariant>& arguments : spy)
            received << arguments.value(0).toInt();
        EXPECT_EQ(received, c.received) << c.name;
    }
    // Ctrl+C comes on a thread of the system's.
    QuitSignals quitSignals;
    QSignalSpy spy(&quitSignals, &QuitSignals::received);
    AllocConsole();
    ASSERT_TRUE(GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0));
    ASSERT_TRUE(spy.wait(2000));
    EXPECT_EQ(spy.value(0).value(0).toInt(), SIGINT);
}

} // namespace

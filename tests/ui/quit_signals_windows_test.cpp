// SPDX-License-Identifier: GPL-3.0-or-later
// Logging off reaches the window as the signal a Linux program gets; a
// session end that another program cancelled does not.
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
}

} // namespace

// SPDX-License-Identifier: GPL-3.0-or-later
// Windows has no such signals; what ends a program from outside reaches it as
// console events (Ctrl+C, Ctrl+Break, the console window closed) on a thread
// of the system's, and as WM_ENDSESSION when the user logs off or the
// machine shuts down. Each is handed to the event loop as the signal a Linux
// program would get, and waits there until the window has closed its port,
// since the system ends the program as soon as the handler returns.
#include "ui/quit_signals.h"

#include <QAbstractNativeEventFilter>
#include <QAtomicPointer>
#include <QCoreApplication>
#include <QThread>
#include <csignal>
#include <windows.h>

namespace {
QAtomicPointer<QuitSignals> current;

void deliver(int signal) {
    if (QuitSignals* receiver = current.loadAcquire())
        QMetaObject::invokeMethod(
            receiver, [receiver, signal] { emit receiver->received(signal); },
            receiver->thread() == QThread::currentThread() ? Qt::DirectConnection
                                                           : Qt::BlockingQueuedConnection);
}

BOOL WINAPI onConsoleEvent(DWORD event) {
    deliver(event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? SIGINT : SIGTERM);
    return TRUE;
}

// WM_ENDSESSION with wParam TRUE: the session ends once every window has
// answered it.
class SessionEnd : public QAbstractNativeEventFilter {
public:
    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        const MSG* msg = static_cast<const MSG*>(message);
        if (type == "windows_generic_MSG" && msg->message == WM_ENDSESSION && msg->wParam)
            deliver(SIGTERM);
        return false;
    }
};
SessionEnd sessionEnd;
} // namespace

QuitSignals::QuitSignals(QObject* parent) : QObject(parent) {
    current.storeRelease(this);
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
    if (QCoreApplication* app = QCoreApplication::instance())
        app->installNativeEventFilter(&sessionEnd);
}

QuitSignals::~QuitSignals() {
    SetConsoleCtrlHandler(onConsoleEvent, FALSE);
    if (QCoreApplication* app = QCoreApplication::instance())
        app->removeNativeEventFilter(&sessionEnd);
    current.storeRelease(nullptr);
}

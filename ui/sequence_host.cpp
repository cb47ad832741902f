// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/sequence_host.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <algorithm>
#include <climits>

namespace host {

EventPump::EventPump(MSComm& comm, const bool& quitRequested) : quitRequested_(quitRequested) {
    wake_.setTimerType(Qt::PreciseTimer);
    wake_.setSingleShot(true);
    QObject::connect(&comm, &MSComm::OnComm, &wake_, [this] { portReceived_ = true; });
    // On Windows the waiting call first delivers the posted events, then
    // sleeps until a message comes: a receive event or a quit request among
    // those events would not end it. Just before it sleeps, it is told to
    // end when there is no longer anything to wait for.
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock,
                     &wake_, [this] {
                         if (waiting_ && (portReceived_ || quitRequested_))
                             QAbstractEventDispatcher::instance()->interrupt();
                     });
}

void EventPump::endIfAsked() const {
    if (quitRequested_)
        throw ProgramEnd{};
}

void EventPump::yield() {
    QCoreApplication::processEvents();
    endIfAsked();
}

void EventPump::yieldUntil(std::int64_t deadline) {
    QCoreApplication::processEvents();
    const std::int64_t wait = deadline + 1 - W32Comms::GetTickCount();
    if (!portReceived_ && !quitRequested_ && wait > 0) {
        wake_.start(static_cast<int>(std::min<std::int64_t>(wait, INT_MAX)));
        waiting_ = true;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        waiting_ = false;
        wake_.stop();
    }
    portReceived_ = false;
    endIfAsked();
}

bool runSequence(aldl::SequenceWindow& window, MSComm& comm) {
    PortGlue port(comm);
    SystemClock clock;
    try {
        aldl::ConnectionSequence(window, port, clock).run();
    } catch (const ProgramEnd&) {
        return true;
    }
    return false;
}

} // namespace host

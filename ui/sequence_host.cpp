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
    // A receive event that comes while the wait's own call delivers posted
    // events does not end that call on Windows, whose loop then sleeps on
    // until some message comes: the wait is told to end.
    QObject::connect(&comm, &MSComm::OnComm, &wake_, [this] {
        portReceived_ = true;
        if (waiting_)
            QCoreApplication::eventDispatcher()->interrupt();
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

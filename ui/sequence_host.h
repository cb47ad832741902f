// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "link/connection_sequence.h"
#include "serial/baud_rate.h"
#include "serial/mscomm.h"

#include <QTimer>

// Where the connection sequence runs inside the window: its port is the
// serial control, its clock the system's tick, and its waits hand the event
// loop to the window, so buttons, repaints and screen readers stay served.
namespace host {

// The port as the sequence sees it: the serial control and SetBaudRate.
class PortGlue : public aldl::SequencePort {
public:
    explicit PortGlue(MSComm& comm) : comm_(comm) {}
    void setInputLen(int length) override { comm_.setInputLen(length); }
    void setCommPort(int port) override { comm_.setCommPort(port); }
    void setPortOpen(bool open) override { comm_.setPortOpen(open); }
    void setBaudRate(std::int32_t baud) override { SetBaudRate(comm_, baud); }
    void setRThreshold(int bytes) override { comm_.setRThreshold(bytes); }
    void output(const QByteArray& bytes) override { comm_.Output(bytes); }
    QByteArray input() override { return comm_.Input(); }

private:
    MSComm& comm_;
};

class SystemClock : public aldl::TickClock {
public:
    std::int64_t tick() override { return W32Comms::GetTickCount(); }
};

// Thrown out of a wait once the user has asked to end the program; it
// unwinds the sequence back to the Connect handler.
struct ProgramEnd {};

// The sequence's two ways of waiting. Both run the window's pending events
// first and throw ProgramEnd when `quitRequested` has become true.
class EventPump {
public:
    EventPump(MSComm& comm, const bool& quitRequested);
    void yield();
    // Then sleeps until the port raises its receive event, a window event
    // comes, or the tick passes `deadline`. No timer runs otherwise, so a
    // quiet line costs no processor time.
    void yieldUntil(std::int64_t deadline);

private:
    void endIfAsked() const;

    const bool& quitRequested_;
    QTimer wake_; // fires at the tick just past the deadline
    bool portReceived_ = false;
    bool waiting_ = false; // inside the wait for more events
};

// Runs the sequence on `comm` for `window`. True when the program is to end
// (a wait threw ProgramEnd); false when the sequence gave up by itself.
// Errors the port raises pass through.
bool runSequence(aldl::SequenceWindow& window, MSComm& comm);

} // namespace host

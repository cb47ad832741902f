// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <span>

// What the connection sequence needs of the window, the port and the clock.
// It reaches them only through these small interfaces, so tests drive it with
// a fake clock and a scripted port.
namespace aldl {

class SequenceWindow {
public:
    virtual ~SequenceWindow() = default;
    // Item value of the chosen port entry (1 to 4).
    virtual int portNumber() = 0;
    virtual void addSentLine(const QString& text) = 0;
    // Adds the hex text of `textstring` to the received list, unless it is empty.
    virtual void parse_as_hex(QByteArray textstring) = 0;
    // Header test; sets the status caption to "Connected" on success.
    virtual void check_packet(const QByteArray& buffer, bool& connected) = 0;
    // Sets the status caption back to "Not Connected".
    virtual void showNotConnected() = 0;
    virtual void apply_data(std::span<const std::int32_t> data) = 0;
    // A modal warning with a single OK button; returns when it is closed.
    virtual void showWarning(const QString& prompt, const QString& title) = 0;
    // Lets the window handle its pending events. May throw to end the program.
    virtual void yield() = 0;
    // The same; then, unless the port has raised its receive event meanwhile,
    // sleeps until it does, a window event comes, or the tick passes `deadline`.
    virtual void yieldUntil(std::int64_t deadline) = 0;
};

class SequencePort {
public:
    virtual ~SequencePort() = default;
    virtual void setInputLen(int length) = 0;
    virtual void setCommPort(int port) = 0;
    virtual void setPortOpen(bool open) = 0;
    virtual void setBaudRate(std::int32_t baud) = 0;
    // Bytes that must be waiting before the port raises its receive event.
    virtual void setRThreshold(int bytes) = 0;
    virtual void output(const QByteArray& bytes) = 0;
    // Everything received since the last call, possibly nothing.
    virtual QByteArray input() = 0;
};

class TickClock {
public:
    virtual ~TickClock() = default;
    virtual std::int64_t tick() = 0; // milliseconds, monotonic
};

} // namespace aldl

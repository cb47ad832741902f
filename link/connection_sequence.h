// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "link/frames.h"

#include <QByteArray>
#include <QString>
#include <array>
#include <cstdint>
#include <span>

// The connection sequence behind the Connect button: open the port at 8192
// baud, wait for the ECM's chatter frame, collect the first request/reply
// exchange, check it, decode it, then poll the ECM until the program ends.
//
// It reaches the window, the port and the clock only through the small
// interfaces below, so tests drive it with a fake clock and a scripted port.
// It catches nothing: errors from the port, and whatever the window's yield
// throws to end the program, leave it unchanged.
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

inline constexpr std::int64_t kChatterTimeoutMs = 15000;
inline constexpr std::int64_t kReplyTimeoutMs = 2000;
// Once the ECM has begun to answer, a longer silence before the exchange is
// whole means a byte was lost: the exchange is over. Longer than a pause a
// reply may make mid-way (30 ms) and a USB adapter's 16 ms bunches.
inline constexpr std::int64_t kByteGapMs = 40;
// Added to the time the missing bytes take on the wire before the silence
// counts; also the least a look waits after one that brought bytes.
inline constexpr std::int64_t kLookSlackMs = 10;
// Once the chatter wait's buffer can no longer become the chatter frame,
// nothing read later changes the outcome: a babbling line wakes it per bunch.
inline constexpr int kHopelessChatterThreshold = 64;

inline const QString kTimedOutPrompt = QStringLiteral("Connection timed out.");
inline const QString kTimedOutTitle = QStringLiteral("Connection Failed");
inline const QString kNoDataPrompt =
    QStringLiteral("Did not recieve a data packet after chatter packet");
inline const QString kNoDataTitle = QStringLiteral("Data not recieved");
inline const QString kBadDataPrompt = QStringLiteral("Data was no good.  Connect again.");
inline const QString kBadDataTitle = QStringLiteral("Routine failed");

class ConnectionSequence {
public:
    ConnectionSequence(SequenceWindow& window, SequencePort& port, TickClock& clock)
        : window_(window), port_(port), clock_(clock) {}

    // Returns only after a failure, with the port closed; once polling has
    // begun it runs until the window's yield ends the program.
    void run();

private:
    // One request's exchange as read: where it starts in `bytes` (behind
    // stray bytes), and whether all of it came.
    struct Exchange {
        QByteArray bytes;
        qsizetype start = 0;
        bool whole = false;
        QByteArray judged() const { return bytes.mid(start); }
    };

    bool awaitChatter();
    Exchange readExchange(std::int64_t sentAt, bool endOnSilence);
    void waitForBytes(int missing, std::int64_t deadline);
    void accepted();
    void watchLink();
    void sendRequest(bool listed);
    void decode(const QByteArray& exchange);
    void fail(const QString& prompt, const QString& title);
    [[noreturn]] void poll();

    SequenceWindow& window_;
    SequencePort& port_;
    TickClock& clock_;
    QString requestText_;
    // While connected, the tick after which a missing reply means the link is gone.
    std::int64_t silenceDeadline_ = 0;
    bool connected_ = false;
    std::array<char, frames::kReplyLength> frame_{};
    std::array<std::int32_t, frames::kReplyLength> data_{};
};

} // namespace aldl

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "link/exchange_reader.h"
#include "link/frames.h"
#include "link/sequence_interfaces.h"

#include <QByteArray>
#include <QString>
#include <array>
#include <cstdint>
#include <span>

// The connection sequence behind the Connect button: open the port at 8192
// baud, wait for the ECM's chatter frame, collect the first request/reply
// exchange, check it, decode it, then poll the ECM until the program ends.
//
// It catches nothing: errors from the port, and whatever the window's yield
// throws to end the program, leave it unchanged.
namespace aldl {

inline constexpr std::int64_t kChatterTimeoutMs = 15000;
// Once the chatter wait's buffer can no longer become the chatter frame,
// nothing read later changes the outcome: a line full of noise then wakes it
// only once this many bytes have come.
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
        : window_(window), port_(port), clock_(clock),
          reader_(port, clock,
                  [this](int bytes, std::int64_t deadline) { waitForBytes(bytes, deadline); }) {}
    // The reader calls back into this object.
    ConnectionSequence(const ConnectionSequence&) = delete;
    ConnectionSequence& operator=(const ConnectionSequence&) = delete;

    // Returns only after a failure, with the port closed; once polling has
    // begun it runs until the window's yield ends the program.
    void run();

private:
    bool awaitChatter();
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
    ExchangeReader reader_;
    QString requestText_;
    // While connected, the tick after which a missing reply means the link is gone.
    std::int64_t silenceDeadline_ = 0;
    bool connected_ = false;
    std::array<char, frames::kReplyLength> frame_{};
    std::array<std::int32_t, frames::kReplyLength> data_{};
};

} // namespace aldl

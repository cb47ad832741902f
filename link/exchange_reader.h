// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "link/sequence_interfaces.h"

#include <QByteArray>
#include <cstdint>
#include <functional>

namespace aldl {

inline constexpr std::int64_t kReplyTimeoutMs = 2000;
// Once the ECM has begun to answer, a longer silence before the exchange is
// whole means a byte was lost: the exchange is over. Longer than a pause a
// reply may make mid-way (30 ms) and than the 16 ms a USB adapter may hold
// bytes before it hands them over together.
inline constexpr std::int64_t kByteGapMs = 40;
// Added to the time the missing bytes take on the wire before a silence
// counts; also the least time between two reads when the first brought bytes.
inline constexpr std::int64_t kReadSlackMs = 10;

// One request's exchange as read: where it starts in `bytes` (behind stray
// bytes), and whether all of it came.
struct Exchange {
    QByteArray bytes;
    qsizetype start = 0;
    bool whole = false;
    // The exchange itself, from the echoed request on.
    QByteArray fromStart() const { return bytes.mid(start); }
};

// Reads the exchange that follows one request: the request's echo, then the
// ECM's reply. The read ends when the exchange is whole, at the reply
// deadline, or (when asked to) once the ECM has begun to answer and then
// stays quiet for longer than the missing bytes need. Stray bytes ahead of
// the echo (noise, the late tail of an earlier exchange) are skipped.
class ExchangeReader {
public:
    // Sleeps until `bytes` more have come, or the tick passes `deadline`.
    using Wait = std::function<void(int bytes, std::int64_t deadline)>;

    ExchangeReader(SequencePort& port, TickClock& clock, Wait wait)
        : port_(port), clock_(clock), wait_(std::move(wait)) {}

    Exchange read(std::int64_t sentAt, bool endOnSilence);

private:
    // Until the ECM has sent anything the reply deadline stands, as slow
    // ECMs answer late; once it has, a silence may end the read.
    enum class Phase { AwaitingReply, ReplyArriving, Whole };

    Phase phase() const;
    qsizetype missing() const;
    bool over(std::int64_t now) const;
    int bytesToWaitFor() const;
    std::int64_t wakeDeadline() const;
    void take(const QByteArray& got, int waitedFor, std::int64_t now);

    SequencePort& port_;
    TickClock& clock_;
    Wait wait_;

    // The read under way.
    QByteArray buffer_;
    qsizetype start_ = -1; // where the exchange starts in buffer_; -1 until found
    bool endOnSilence_ = false;
    std::int64_t deadline_ = 0;   // the reply deadline, from the request's sending
    std::int64_t lastRead_ = 0;   // the tick of the last read of the port
    std::int64_t quietUntil_ = 0; // a silence past this tick ends the read
};

} // namespace aldl

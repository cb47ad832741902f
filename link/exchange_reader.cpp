// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/exchange_reader.h"

#include "link/frame_checks.h"
#include "link/frames.h"

#include <algorithm>

namespace aldl {
namespace {

// Where the exchange starts: at the buffer's start when the reply header is
// in its place, else behind stray bytes at the echoed request followed by the
// header; -1 while neither is in.
qsizetype exchangeStart(const QByteArray& buffer) {
    static const QByteArray echoAndHeader =
        frames::toBytes(frames::kMode1Request) + frames::toBytes(frames::kMode1ReplyHeader);
    return frames::hasReplyHeader(buffer) ? 0 : buffer.indexOf(echoAndHeader);
}

// Leading whole chatter frames: an ECM may repeat it, and it is no reply.
qsizetype chatterAhead(const QByteArray& buffer) {
    const QByteArray chatter = frames::toBytes(frames::kChatterFrame);
    qsizetype at = 0;
    while (buffer.mid(at, chatter.size()) == chatter)
        at += chatter.size();
    return at;
}

} // namespace

Exchange ExchangeReader::read(std::int64_t sentAt, bool endOnSilence) {
    buffer_.clear();
    start_ = -1;
    endOnSilence_ = endOnSilence;
    deadline_ = sentAt + kReplyTimeoutMs;
    lastRead_ = sentAt;
    quietUntil_ = deadline_;
    for (std::int64_t now = clock_.tick(); !over(now);) {
        const int waitFor = bytesToWaitFor();
        wait_(waitFor, wakeDeadline());
        const QByteArray got = port_.input();
        now = clock_.tick();
        if (!got.isEmpty())
            take(got, waitFor, now);
        lastRead_ = now;
    }
    const qsizetype from = std::max<qsizetype>(start_, 0);
    return {buffer_, from, buffer_.size() >= from + frames::kExchangeLength};
}

ExchangeReader::Phase ExchangeReader::phase() const {
    if (missing() <= 0)
        return Phase::Whole;
    // Our own request comes back on the one-wire bus: the ECM has not spoken yet.
    const bool echoOnly =
        frames::toBytes(frames::kMode1Request).startsWith(buffer_.mid(chatterAhead(buffer_)));
    return echoOnly ? Phase::AwaitingReply : Phase::ReplyArriving;
}

// Bytes still missing from the exchange, counted from where it starts (or,
// while that is not known, from the buffer's start).
qsizetype ExchangeReader::missing() const {
    return std::max<qsizetype>(start_, 0) + frames::kExchangeLength - buffer_.size();
}

bool ExchangeReader::over(std::int64_t now) const {
    const Phase p = phase();
    return p == Phase::Whole || now > deadline_ ||
           (p == Phase::ReplyArriving && endOnSilence_ && now > quietUntil_);
}

// One wake-up for the ECM's first byte while only the echo is in, then one
// for the whole rest of the exchange: not one per byte.
int ExchangeReader::bytesToWaitFor() const {
    if (phase() == Phase::AwaitingReply)
        return int(std::max<qsizetype>(1, chatterAhead(buffer_) + frames::kLeadingBytes + 1 -
                                              buffer_.size()));
    return int(missing());
}

std::int64_t ExchangeReader::wakeDeadline() const {
    if (phase() == Phase::AwaitingReply || !endOnSilence_)
        return deadline_;
    return std::min(deadline_, quietUntil_);
}

// Moves the silence mark on: from when the bytes just read came, the time the
// missing ones take on the wire plus some slack, and at least the byte gap.
// When all that was waited for came, it came just now; fewer came after the
// last read, and no faster than the wire carries them.
void ExchangeReader::take(const QByteArray& got, int waitedFor, std::int64_t now) {
    buffer_ += got;
    if (start_ < 0)
        start_ = exchangeStart(buffer_);
    const std::int64_t cameBy =
        got.size() >= waitedFor ? now : std::min(now, lastRead_ + frames::wireMs(got.size()));
    const std::int64_t quietFor =
        std::max(frames::wireMs(std::max<qsizetype>(missing(), 0)) + kReadSlackMs, kByteGapMs);
    quietUntil_ = std::max(cameBy + quietFor, now + kReadSlackMs);
}

} // namespace aldl

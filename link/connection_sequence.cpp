// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/connection_sequence.h"

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

// Where one exchange stands. Until the ECM has sent anything the reply
// deadline stands, as slow ECMs answer late; once it has, silence ends it.
enum class Phase { Nothing, Arriving, Whole };

// Leading whole chatter frames: an ECM may repeat it, and it is no reply.
qsizetype chatterAhead(const QByteArray& buffer) {
    const QByteArray chatter = frames::toBytes(frames::kChatterFrame);
    qsizetype at = 0;
    while (buffer.mid(at, chatter.size()) == chatter)
        at += chatter.size();
    return at;
}

Phase phaseOf(const QByteArray& buffer, qsizetype start) {
    if (buffer.size() >= std::max<qsizetype>(start, 0) + frames::kExchangeLength)
        return Phase::Whole;
    // Our own request comes back on the one-wire bus: the ECM has not spoken yet.
    const bool echoOnly =
        frames::toBytes(frames::kMode1Request).startsWith(buffer.mid(chatterAhead(buffer)));
    return echoOnly ? Phase::Nothing : Phase::Arriving;
}

} // namespace

void ConnectionSequence::run() {
    const int portNumber = window_.portNumber();
    port_.setInputLen(0);
    port_.setCommPort(portNumber);
    port_.setPortOpen(true);
    requestText_ = frames::requestText();
    port_.setBaudRate(frames::kBaud);

    if (!awaitChatter())
        return fail(kTimedOutPrompt, kTimedOutTitle);

    sendRequest(true);
    // The first exchange has the whole reply deadline: a hiccup must not cost the connection.
    const Exchange first = readExchange(clock_.tick(), false);
    if (!first.whole)
        return fail(kNoDataPrompt, kNoDataTitle);

    window_.parse_as_hex(first.bytes);
    const QByteArray exchange = first.judged();
    bool connected = false;
    window_.check_packet(exchange, connected);
    if (!connected)
        return fail(kBadDataPrompt, kBadDataTitle);
    accepted();
    // A right header starts polling, but only a whole, unchanged reply is shown.
    if (frames::hasValidChecksum(exchange))
        decode(exchange);
    poll();
}

// The first request goes out unlisted; then every pass logs the whole buffer
// so far, until the buffer is exactly the chatter frame.
bool ConnectionSequence::awaitChatter() {
    const std::int64_t deadline = clock_.tick() + kChatterTimeoutMs;
    sendRequest(false);
    const QByteArray chatter = frames::toBytes(frames::kChatterFrame);
    QByteArray buffer;
    for (;;) {
        const bool past = clock_.tick() > deadline;
        if (frames::isChatterFrame(buffer) || past)
            break;
        const bool hopeless = !chatter.startsWith(buffer);
        waitForBytes(hopeless ? kHopelessChatterThreshold : int(chatter.size() - buffer.size()),
                     deadline);
        buffer += port_.input();
        if (!buffer.isEmpty())
            window_.parse_as_hex(buffer);
    }
    return frames::isChatterFrame(buffer) || clock_.tick() <= deadline;
}

// One wake-up when the missing bytes are all there, not one per byte.
void ConnectionSequence::waitForBytes(int missing, std::int64_t deadline) {
    watchLink();
    port_.setRThreshold(missing);
    window_.yieldUntil(connected_ ? std::min(deadline, silenceDeadline_) : deadline);
}

void ConnectionSequence::accepted() {
    connected_ = true;
    silenceDeadline_ = clock_.tick() + kReplyTimeoutMs;
}

// The status must not claim a link that stayed quiet for longer than a reply
// may take; polling goes on, and the next accepted reply sets it again.
void ConnectionSequence::watchLink() {
    if (connected_ && clock_.tick() > silenceDeadline_) {
        connected_ = false;
        window_.showNotConnected();
    }
}

// Reads one exchange, the first as every polling one: ended when it is whole,
// at the reply deadline, or (`endOnSilence`) when the line stays quiet for
// longer than the missing bytes need once the ECM has begun to answer. Stray bytes ahead of the
// echoed request (noise, the late tail of an earlier exchange) are skipped.
ConnectionSequence::Exchange ConnectionSequence::readExchange(std::int64_t sentAt,
                                                              bool endOnSilence) {
    const std::int64_t deadline = sentAt + kReplyTimeoutMs;
    QByteArray buffer;
    qsizetype start = -1;
    std::int64_t lastLook = sentAt, quietAfter = deadline, now = clock_.tick();
    for (;;) {
        const Phase phase = phaseOf(buffer, start);
        const qsizetype missing =
            std::max<qsizetype>(start, 0) + frames::kExchangeLength - buffer.size();
        if (phase == Phase::Whole || now > deadline ||
            (phase == Phase::Arriving && endOnSilence && now > quietAfter))
            break;
        // One wake-up computation: the ECM's first byte or the whole exchange,
        // or the deadline or the silence that ends it.
        const qsizetype wanted =
            phase == Phase::Nothing
                ? std::max<qsizetype>(1, chatterAhead(buffer) + frames::kLeadingBytes + 1 -
                                             buffer.size())
                : missing;
        waitForBytes(int(wanted), phase == Phase::Nothing || !endOnSilence
                                      ? deadline
                                      : std::min(deadline, quietAfter));
        const QByteArray got = port_.input();
        now = clock_.tick();
        if (!got.isEmpty()) {
            buffer += got;
            if (start < 0)
                start = exchangeStart(buffer);
            // Enough to wake us came just now; fewer came after the last look,
            // and no faster than the wire carries them.
            const std::int64_t cameBy =
                got.size() >= wanted ? now : std::min(now, lastLook + frames::wireMs(got.size()));
            const qsizetype stillMissing =
                std::max<qsizetype>(start, 0) + frames::kExchangeLength - buffer.size();
            quietAfter =
                std::max(cameBy + std::max(frames::wireMs(stillMissing) + kLookSlackMs, kByteGapMs),
                         now + kLookSlackMs);
        }
        lastLook = now;
    }
    const qsizetype from = std::max<qsizetype>(start, 0);
    return {buffer, from, buffer.size() >= from + frames::kExchangeLength};
}

// One request per exchange: sending on every pass would flood the link, and
// decoding whatever happened to arrive would show partial, shifted replies.
// Only a reply whose header and checksum are right is shown, keeps the status
// "Connected" and counts as an answer.
void ConnectionSequence::poll() {
    for (;;) {
        window_.yield();
        sendRequest(true);
        const Exchange read = readExchange(clock_.tick(), true);
        window_.parse_as_hex(read.bytes);
        const QByteArray exchange = read.judged();
        bool connected = false;
        if (frames::hasValidChecksum(exchange))
            window_.check_packet(exchange, connected);
        if (connected) {
            accepted();
            decode(exchange);
        }
        watchLink();
    }
}

void ConnectionSequence::sendRequest(bool listed) {
    port_.output(frames::toBytes(frames::kMode1Request));
    if (listed)
        window_.addSentLine(requestText_);
}

// The reply is where the header test found it: the 67 bytes behind the echoed
// request. Whatever follows it is logged, never decoded.
void ConnectionSequence::decode(const QByteArray& exchange) {
    for (int i = 0; i < frames::kReplyLength; ++i) {
        frame_[i] = exchange[frames::kLeadingBytes + i];
        data_[i] = static_cast<unsigned char>(frame_[i]);
    }
    window_.apply_data(data_);
}

void ConnectionSequence::fail(const QString& prompt, const QString& title) {
    window_.showWarning(prompt, title);
    port_.setPortOpen(false);
}

} // namespace aldl

// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/connection_sequence.h"

#include "link/frames.h"
#include "link/traffic.h"

#include <algorithm>

namespace aldl {
namespace {

// Where the exchange starts: at the buffer's start when the reply header is
// in its place, else behind stray bytes at the echoed request followed by the
// header; -1 while neither is in.
qsizetype exchangeStart(const QByteArray& buffer) {
    static const QByteArray echoAndHeader =
        frames::toBytes(frames::kMode1Request) + frames::toBytes(frames::kMode1ReplyHeader);
    return traffic::has_reply_header(buffer) ? 0 : buffer.indexOf(echoAndHeader);
}

// Milliseconds that `bytes` take on the wire at 8192 baud, 10 bits a byte.
std::int64_t wireMs(qsizetype bytes) {
    return (bytes * 10 * 1000 + kBaud - 1) / kBaud;
}

} // namespace

void ConnectionSequence::run() {
    const int portNumber = window_.portNumber();
    port_.setInputLen(0);
    port_.setCommPort(portNumber);
    port_.setPortOpen(true);
    requestText_ = frames::request_text();
    port_.setBaudRate(kBaud);

    if (!awaitChatter())
        return fail(kTimedOutPrompt, kTimedOutTitle);

    sendRequest(true);
    const std::int64_t sentAt = clock_.tick();
    QByteArray buffer;
    const qsizetype start = findExchange(buffer, sentAt + kReplyTimeoutMs);
    if (start < 0)
        return fail(kNoDataPrompt, kNoDataTitle);
    exchangeMs_ = clock_.tick() - sentAt;

    window_.parse_as_hex(buffer);
    const QByteArray exchange = buffer.mid(start);
    bool connected = false;
    window_.check_packet(exchange, connected);
    if (!connected)
        return fail(kBadDataPrompt, kBadDataTitle);
    accepted();
    // A right header starts polling, but only a whole, unchanged reply is shown.
    if (traffic::has_valid_checksum(exchange))
        decode(exchange);
    poll();
}

// The first exchange: 71 bytes within the deadline, or more when stray bytes
// (a repeated chatter frame, noise) came ahead of the echoed request.
// Returns where the exchange starts, or -1 when it did not come whole in time.
qsizetype ConnectionSequence::findExchange(QByteArray& buffer, std::int64_t deadline) {
    if (!readUntil(buffer, frames::kExchangeLength, deadline))
        return -1;
    const qsizetype start = std::max<qsizetype>(0, exchangeStart(buffer));
    if (start > 0 && !readUntil(buffer, start + frames::kExchangeLength, deadline))
        return -1;
    return start;
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
        if (traffic::is_chatter_frame(buffer) || past)
            break;
        const bool hopeless = !chatter.startsWith(buffer);
        waitForBytes(hopeless ? kHopelessChatterThreshold : int(chatter.size() - buffer.size()),
                     deadline);
        buffer += port_.input();
        if (!buffer.isEmpty())
            window_.parse_as_hex(buffer);
    }
    return traffic::is_chatter_frame(buffer) || clock_.tick() <= deadline;
}

// Reads until the buffer holds `length` bytes or the deadline passed.
bool ConnectionSequence::readUntil(QByteArray& buffer, qsizetype length, std::int64_t deadline) {
    while (buffer.size() < length && clock_.tick() <= deadline) {
        waitForBytes(int(length - buffer.size()), deadline);
        buffer += port_.input();
    }
    return buffer.size() >= length || clock_.tick() <= deadline;
}

// One wake-up when the missing bytes are all there, not one per byte.
void ConnectionSequence::waitForBytes(int missing, std::int64_t deadline) {
    watchLink();
    port_.setRThreshold(missing);
    window_.yield_until(connected_ ? std::min(deadline, silenceDeadline_) : deadline);
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
        window_.show_not_connected();
    }
}

// Reads one polling exchange, skipping stray bytes (noise, the late tail of an
// earlier exchange) ahead of the echoed request. Until the reply header is in,
// the reply deadline stands, as slow ECMs answer late; after it, a silence of
// more than kByteGapMs ends the exchange, so a lost byte costs one exchange.
// A whole exchange wakes the sequence once; it first looks at one that is not
// whole when the last whole one had taken a little longer.
// Returns where the exchange starts (0 when no header came).
qsizetype ConnectionSequence::readExchange(QByteArray& buffer, std::int64_t sentAt) {
    const std::int64_t deadline = sentAt + kReplyTimeoutMs;
    const std::int64_t firstLook = sentAt + exchangeMs_ + kLookSlackMs;
    const qsizetype headerEnd = frames::kReplyHeaderPosition + 2;
    qsizetype start = -1;
    std::int64_t quietAfter = deadline;
    for (;;) {
        const qsizetype need = std::max<qsizetype>(start, 0) + frames::kExchangeLength;
        const std::int64_t now = clock_.tick();
        if (buffer.size() >= need || now > deadline || (start >= 0 && now > quietAfter))
            break;
        // A late reply: wake when its header could be in, then when the whole exchange could.
        const bool late = start < 0 && now > firstLook;
        const qsizetype missing =
            late && buffer.size() < headerEnd ? headerEnd - buffer.size() : need - buffer.size();
        waitForBytes(int(missing), start >= 0 ? std::min(deadline, quietAfter)
                                   : late     ? deadline
                                              : std::min(deadline, firstLook));
        const QByteArray got = port_.input();
        if (got.isEmpty())
            continue;
        buffer += got;
        if (start < 0)
            start = exchangeStart(buffer);
        // Allow the missing bytes their time on the wire, but never less than
        // the gap a reply may pause for.
        if (start >= 0)
            quietAfter =
                clock_.tick() + std::max(wireMs(need - buffer.size()) + kLookSlackMs, kByteGapMs);
    }
    if (start >= 0 && buffer.size() >= start + frames::kExchangeLength)
        exchangeMs_ = clock_.tick() - sentAt;
    return std::max<qsizetype>(start, 0);
}

// One request per exchange: sending on every pass would flood the link, and
// decoding whatever happened to arrive would show partial, shifted replies.
// Only a reply whose header and checksum are right is shown, keeps the status
// "Connected" and counts as an answer.
void ConnectionSequence::poll() {
    QByteArray buffer;
    for (;;) {
        window_.yield();
        sendRequest(true);
        const std::int64_t sentAt = clock_.tick();
        buffer.clear();
        const qsizetype start = readExchange(buffer, sentAt);
        window_.parse_as_hex(buffer);
        const QByteArray exchange = buffer.mid(start);
        bool connected = false;
        if (traffic::has_valid_checksum(exchange))
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

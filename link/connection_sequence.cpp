#include "link/connection_sequence.h"

#include "link/frames.h"
#include "link/traffic.h"

#include <algorithm>

namespace aldl {

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
    const std::int64_t deadline = clock_.tick() + kReplyTimeoutMs;
    QByteArray buffer;
    if (!readUntil(buffer, frames::kExchangeLength, deadline))
        return fail(kNoDataPrompt, kNoDataTitle);

    window_.parse_as_hex(buffer);
    bool connected = false;
    window_.check_packet(buffer, connected);
    if (!connected)
        return fail(kBadDataPrompt, kBadDataTitle);
    accepted();
    decode(buffer);
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

// One request per exchange: sending on every pass would flood the link, and
// decoding whatever happened to arrive would show partial, shifted replies.
void ConnectionSequence::poll() {
    const QByteArray echoAndHeader =
        frames::toBytes(frames::kMode1Request) + frames::toBytes(frames::kMode1ReplyHeader);
    QByteArray buffer;
    for (;;) {
        window_.yield();
        sendRequest(true);
        const std::int64_t deadline = clock_.tick() + kReplyTimeoutMs;
        buffer.clear();
        readUntil(buffer, frames::kExchangeLength, deadline);

        // Stray bytes on the line (noise, the tail of an earlier reply) ahead of
        // the echoed request would push the reply off its place, in this
        // exchange and every later one: skip them and take the exchange behind.
        qsizetype start = 0;
        if (buffer.size() >= frames::kExchangeLength && !traffic::has_reply_header(buffer)) {
            start = std::max<qsizetype>(0, buffer.indexOf(echoAndHeader));
            if (start > 0)
                readUntil(buffer, start + frames::kExchangeLength, deadline);
        }
        window_.parse_as_hex(buffer);
        const QByteArray exchange = buffer.mid(start);
        bool connected = false;
        if (exchange.size() >= frames::kExchangeLength)
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

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
    QByteArray buffer;
    if (!awaitExchange(buffer))
        return fail(kNoDataPrompt, kNoDataTitle);

    window_.parse_as_hex(buffer);
    bool connected = false;
    window_.check_packet(buffer, connected);
    if (!connected)
        return fail(kBadDataPrompt, kBadDataTitle);
    decode(buffer);
    poll();
}

// The first request goes out unlisted; then every read is logged, showing the
// whole buffer so far, until the buffer is exactly the chatter frame.
bool ConnectionSequence::awaitChatter() {
    const std::int64_t deadline = clock_.tick() + kChatterTimeoutMs;
    sendRequest(false);
    QByteArray buffer;
    for (;;) {
        const bool past = clock_.tick() > deadline;
        if (traffic::is_chatter_frame(buffer) || past)
            break;
        window_.yield();
        buffer += port_.input();
        if (!buffer.isEmpty())
            window_.parse_as_hex(buffer);
    }
    return traffic::is_chatter_frame(buffer) || clock_.tick() <= deadline;
}

// Reads until the buffer holds a whole exchange or the reply deadline passed.
bool ConnectionSequence::awaitExchange(QByteArray& buffer) {
    const std::int64_t deadline = clock_.tick() + kReplyTimeoutMs;
    buffer.clear();
    return readUntil(buffer, frames::kExchangeLength, deadline);
}

bool ConnectionSequence::readUntil(QByteArray& buffer, qsizetype length, std::int64_t deadline) {
    while (buffer.size() < length && clock_.tick() <= deadline) {
        window_.yield();
        buffer += port_.input();
    }
    return buffer.size() >= length || clock_.tick() <= deadline;
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
        if (exchange.size() >= frames::kExchangeLength && traffic::has_reply_header(exchange))
            decode(exchange);
    }
}

void ConnectionSequence::sendRequest(bool listed) {
    port_.output(frames::toBytes(frames::kMode1Request));
    if (listed)
        window_.addSentLine(requestText_);
}

// The reply is always the last 67 bytes of the buffer.
void ConnectionSequence::decode(const QByteArray& buffer) {
    const qsizetype start = buffer.size() - frames::kReplyLength;
    for (int i = 0; i < frames::kReplyLength; ++i) {
        frame_[i] = buffer[start + i];
        data_[i] = static_cast<unsigned char>(frame_[i]);
    }
    window_.apply_data(data_);
}

void ConnectionSequence::fail(const QString& prompt, const QString& title) {
    window_.showWarning(prompt, title);
    port_.setPortOpen(false);
}

} // namespace aldl

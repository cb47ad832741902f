#include "link/connection_sequence.h"

#include "link/frames.h"
#include "link/traffic.h"

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
    while (buffer.size() < frames::kExchangeLength && clock_.tick() <= deadline) {
        window_.yield();
        buffer += port_.input();
    }
    return buffer.size() >= frames::kExchangeLength || clock_.tick() <= deadline;
}

// One request per exchange: sending on every pass would flood the link, and
// decoding whatever happened to arrive would show partial, shifted replies.
void ConnectionSequence::poll() {
    QByteArray buffer;
    for (;;) {
        window_.yield();
        // Bytes that trail in after an exchange was taken (line noise, the end
        // of an overlong reply) would shift every later exchange; they are
        // logged on a line of their own and dropped.
        window_.parse_as_hex(port_.input());
        sendRequest(true);
        awaitExchange(buffer);
        window_.parse_as_hex(buffer);
        if (buffer.size() >= frames::kExchangeLength && traffic::has_reply_header(buffer))
            decode(buffer);
        buffer.clear();
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

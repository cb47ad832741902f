// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/connection_sequence.h"

#include "link/frame_checks.h"
#include "link/frames.h"

#include <algorithm>

namespace aldl {

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
    const Exchange first = reader_.read(clock_.tick(), false);
    if (!first.whole)
        return fail(kNoDataPrompt, kNoDataTitle);

    window_.parse_as_hex(first.bytes);
    const QByteArray exchange = first.fromStart();
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

// One request per exchange: sending on every pass would flood the link, and
// decoding whatever happened to arrive would show partial, shifted replies.
// Only a reply whose header and checksum are right is shown, keeps the status
// "Connected" and counts as an answer.
void ConnectionSequence::poll() {
    for (;;) {
        window_.yield();
        sendRequest(true);
        const Exchange read = reader_.read(clock_.tick(), true);
        window_.parse_as_hex(read.bytes);
        const QByteArray exchange = read.fromStart();
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

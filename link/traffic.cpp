// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/traffic.h"

#include "link/frames.h"

namespace traffic {

QString hex_text(const QByteArray& bytes) {
    QString text;
    text.reserve(bytes.size() * 3);
    for (char c : bytes) {
        text += QString::number(static_cast<unsigned char>(c), 16).toUpper();
        text += QLatin1Char(' ');
    }
    return text;
}

bool has_reply_header(const QByteArray& buffer) {
    const QByteArray header = frames::toBytes(frames::kMode1ReplyHeader);
    return buffer.mid(frames::kReplyHeaderPosition - 1, header.size()) == header;
}

bool has_valid_checksum(const QByteArray& exchange) {
    if (exchange.size() < frames::kExchangeLength)
        return false;
    unsigned sum = 0;
    for (char c : exchange.mid(frames::kLeadingBytes, frames::kReplyLength))
        sum += static_cast<unsigned char>(c);
    return sum % 256 == 0;
}

bool is_chatter_frame(const QByteArray& buffer) {
    return buffer == frames::toBytes(frames::kChatterFrame);
}

} // namespace traffic

// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/frame_checks.h"

#include "link/frames.h"

namespace frames {

bool hasReplyHeader(const QByteArray& buffer) {
    const QByteArray header = toBytes(kMode1ReplyHeader);
    return buffer.mid(kReplyHeaderPosition - 1, header.size()) == header;
}

bool hasValidChecksum(const QByteArray& exchange) {
    if (exchange.size() < kExchangeLength)
        return false;
    unsigned sum = 0;
    for (char c : exchange.mid(kLeadingBytes, kReplyLength))
        sum += static_cast<unsigned char>(c);
    return sum % 256 == 0;
}

bool isChatterFrame(const QByteArray& buffer) {
    return buffer == toBytes(kChatterFrame);
}

} // namespace frames

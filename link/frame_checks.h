// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

// What the program tests a received buffer for, behind the status label and
// the connection sequence.
namespace frames {

// True when 1-based positions 5 to 7 hold the mode 1 reply header F0 95 01.
bool hasReplyHeader(const QByteArray& buffer);

// True when the 67 reply bytes behind the echoed request (1-based positions
// 5 to 71) sum to a multiple of 256: the reply came whole and unchanged.
bool hasValidChecksum(const QByteArray& exchange);

// True when the whole buffer is exactly the chatter frame, nothing before or after.
bool isChatterFrame(const QByteArray& buffer);

} // namespace frames

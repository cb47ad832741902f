// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

// Pure helpers behind the traffic log and the status label.
namespace traffic {

// Each byte as upper-case hex without leading zeros, each followed by a space:
// F0 56 01 B9 gives "F0 56 1 B9 ". Empty input gives empty text.
QString hex_text(const QByteArray& bytes);

// True when 1-based positions 5 to 7 hold the mode 1 reply header F0 95 01.
bool has_reply_header(const QByteArray& buffer);

// True when the 67 reply bytes behind the echoed request (1-based positions
// 5 to 71) sum to a multiple of 256: the reply came whole and unchanged.
bool has_valid_checksum(const QByteArray& exchange);

// True when the whole buffer is exactly the chatter frame, nothing before or after.
bool is_chatter_frame(const QByteArray& buffer);

} // namespace traffic

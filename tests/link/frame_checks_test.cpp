// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/frame_checks.h"

#include <gtest/gtest.h>

namespace {

// The reply header counts only at positions 5 to 7; the chatter frame only as
// the whole buffer.
TEST(FrameChecks, ReplyHeaderAndChatterFrame) {
    // clang-format off
    const struct { const char* hex; bool header, chatter; } cases[] = {
        {"F05601B9F09501", true, false},     {"00000000F0950100", true, false},
        {"F05601B9F09502", false, false},    {"F05601B9F095", false, false},
        {"F09501", false, false},            {"00F05601B9F09501", false, false},
        {"F055BB", false, true},             {"00F055BB", false, false},
        {"F055BB00", false, false},          {"F055", false, false},
    };
    // clang-format on
    for (const auto& c : cases) {
        const QByteArray buffer = QByteArray::fromHex(c.hex);
        EXPECT_EQ(frames::hasReplyHeader(buffer), c.header) << c.hex;
        EXPECT_EQ(frames::isChatterFrame(buffer), c.chatter) << c.hex;
    }
}

} // namespace

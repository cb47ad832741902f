#include "link/frames.h"
#include "link/traffic.h"

#include "tests/support/bytes.h"
#include <gtest/gtest.h>

namespace {

TEST(Frames, RequestTextHasTwoSpacesBeforeTheMode) {
    EXPECT_EQ(frames::request_text(), "F0 56  01 B9");
}

TEST(HexText, GroupsWithoutLeadingZerosEachFollowedByASpace) {
    const QByteArray exchange = QByteArray::fromHex("F05601B9F09501") + QByteArray(64, '\0');
    EXPECT_EQ(traffic::hex_text({}), "");
    EXPECT_EQ(traffic::hex_text(bytes({0x00, 0x01, 0x0F, 0x10, 0xF0, 0xFF})), "0 1 F 10 F0 FF ");
    EXPECT_EQ(traffic::hex_text(exchange), "F0 56 1 B9 F0 95 1 " + QString("0 ").repeated(64));
}

// The reply header counts only at positions 5 to 7; the chatter frame only as
// the whole buffer.
TEST(Judging, ReplyHeaderAndChatterFrame) {
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
        EXPECT_EQ(traffic::has_reply_header(buffer), c.header) << c.hex;
        EXPECT_EQ(traffic::is_chatter_frame(buffer), c.chatter) << c.hex;
    }
}

} // namespace

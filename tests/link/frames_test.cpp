#include "link/frames.h"
#include "link/traffic.h"

#include "tests/support/bytes.h"
#include <gtest/gtest.h>

namespace {

TEST(Frames, RequestTextHasTwoSpacesBeforeTheMode) {
    EXPECT_EQ(frames::request_text(), "F0 56  01 B9");
}

TEST(HexText, GroupsWithoutLeadingZerosEachFollowedByASpace) {
    QByteArray exchange = bytes({0xF0, 0x56, 0x01, 0xB9, 0xF0, 0x95, 0x01});
    exchange.append(64, '\0');
    const struct {
        QByteArray input;
        QString text;
    } cases[] = {
        {{}, ""},
        {bytes({0x00, 0x01, 0x0F, 0x10, 0xF0, 0xFF}), "0 1 F 10 F0 FF "},
        {exchange, "F0 56 1 B9 F0 95 1 " + QString("0 ").repeated(64)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(traffic::hex_text(c.input), c.text);
}

TEST(ReplyHeader, JudgedOnPositionsFiveToSevenOnly) {
    const QByteArray lead = bytes({0xF0, 0x56, 0x01, 0xB9});
    const struct {
        QByteArray buffer;
        bool accepted;
    } cases[] = {
        {lead + bytes({0xF0, 0x95, 0x01}), true},
        {bytes({0, 0, 0, 0, 0xF0, 0x95, 0x01, 0x00, 0x12}), true},
        {lead + bytes({0xF0, 0x95, 0x02}), false},
        {lead + bytes({0xF0, 0x95}), false},
        {bytes({0xF0, 0x95, 0x01}), false},
        {bytes({0, 0xF0, 0x56, 0x01, 0xB9, 0xF0, 0x95, 0x01}), false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(traffic::has_reply_header(c.buffer), c.accepted)
            << traffic::hex_text(c.buffer).toStdString();
}

TEST(ChatterFrame, OnlyTheWholeBufferCounts) {
    const struct {
        QByteArray buffer;
        bool chatter;
    } cases[] = {
        {bytes({0xF0, 0x55, 0xBB}), true},
        {bytes({0x00, 0xF0, 0x55, 0xBB}), false},
        {bytes({0xF0, 0x55, 0xBB, 0x00}), false},
        {bytes({0xF0, 0x55}), false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(traffic::is_chatter_frame(c.buffer), c.chatter)
            << traffic::hex_text(c.buffer).toStdString();
}

} // namespace

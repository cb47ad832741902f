#include "link/traffic.h"

#include "tests/support/bytes.h"

#include <QStringList>
#include <gtest/gtest.h>

namespace {

TEST(HexText, GroupsWithoutLeadingZerosEachFollowedByASpace) {
    struct Case {
        QByteArray input;
        QString text;
    } cases[] = {
        {{}, ""},
        {bytes({0x00}), "0 "},
        {bytes({0x01, 0x0F, 0x10, 0xF0, 0xFF}), "1 F 10 F0 FF "},
        {bytes({0xF0, 0x56, 0x01, 0xB9}), "F0 56 1 B9 "},
        {bytes({0, 0, 0}), "0 0 0 "},
    };
    for (const auto& c : cases)
        EXPECT_EQ(traffic::hex_text(c.input), c.text) << c.text.toStdString();
}

TEST(HexText, AFullExchangeGivesSeventyOneGroups) {
    QByteArray exchange = bytes({0xF0, 0x56, 0x01, 0xB9, 0xF0, 0x95, 0x01});
    exchange.append(64, '\0');
    const QString text = traffic::hex_text(exchange);
    EXPECT_TRUE(text.startsWith("F0 56 1 B9 F0 95 1 "));
    EXPECT_EQ(text.split(' ', Qt::SkipEmptyParts).size(), 71);
    EXPECT_TRUE(text.endsWith("0 "));
}

TEST(ReplyHeader, JudgedOnPositionsFiveToSevenOnly) {
    const QByteArray lead = bytes({0xF0, 0x56, 0x01, 0xB9});
    struct Case {
        QByteArray buffer;
        bool accepted;
    } cases[] = {
        {lead + bytes({0xF0, 0x95, 0x01}), true},
        {lead + bytes({0xF0, 0x95, 0x01, 0x00, 0x12}), true},
        {bytes({0, 0, 0, 0, 0xF0, 0x95, 0x01}), true},
        {lead + bytes({0xF0, 0x95, 0x02}), false},
        {lead + bytes({0xF0, 0x95}), false},
        {bytes({0xF0, 0x95, 0x01}), false},
        {{}, false},
        {bytes({0, 0xF0, 0x56, 0x01, 0xB9, 0xF0, 0x95, 0x01}), false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(traffic::has_reply_header(c.buffer), c.accepted)
            << traffic::hex_text(c.buffer).toStdString();
}

TEST(ChatterFrame, OnlyTheWholeBufferCounts) {
    struct Case {
        QByteArray buffer;
        bool chatter;
    } cases[] = {
        {bytes({0xF0, 0x55, 0xBB}), true},
        {bytes({0x00, 0xF0, 0x55, 0xBB}), false},
        {bytes({0xF0, 0x55, 0xBB, 0x00}), false},
        {bytes({0xF0, 0x55}), false},
        {{}, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(traffic::is_chatter_frame(c.buffer), c.chatter)
            << traffic::hex_text(c.buffer).toStdString();
}

} // namespace

#include "link/frames.h"

#include <gtest/gtest.h>
#include <numeric>

namespace {

template <std::size_t N> int byte_sum(const std::array<std::uint8_t, N>& frame) {
    return std::accumulate(frame.begin(), frame.end(), 0);
}

TEST(Frames, FixedFramesCarryAConsistentChecksum) {
    EXPECT_EQ(byte_sum(frames::kMode1Request) % 256, 0);
    EXPECT_EQ(byte_sum(frames::kChatterFrame) % 256, 0);
}

TEST(Frames, LengthByteCountsTheBodyAsTheLayoutSays) {
    // 0x55 plus the bytes between the length byte and the checksum.
    EXPECT_EQ(frames::kMode1Request[1], 0x55 + 1);
    EXPECT_EQ(frames::kChatterFrame[1], 0x55 + 0);
    EXPECT_EQ(frames::kMode1ReplyHeader[1], 0x55 + frames::kReplyLength - 3);
}

TEST(Frames, ExchangeIsTheEchoedRequestThenTheReply) {
    EXPECT_EQ(frames::kLeadingBytes, static_cast<int>(frames::kMode1Request.size()));
    EXPECT_EQ(frames::kExchangeLength, 71);
    EXPECT_EQ(frames::kReplyHeaderPosition, 5);
}

TEST(Frames, RequestTextHasTwoSpacesBeforeTheMode) {
    EXPECT_EQ(frames::request_text(), QStringLiteral("F0 56  01 B9"));
    EXPECT_EQ(frames::request_text().size(), 12);
}

TEST(Frames, ToBytesKeepsHighBytes) {
    const QByteArray bytes = frames::toBytes(frames::kMode1Request);
    ASSERT_EQ(bytes.size(), 4);
    EXPECT_EQ(static_cast<unsigned char>(bytes[0]), 0xF0);
    EXPECT_EQ(static_cast<unsigned char>(bytes[3]), 0xB9);
}

} // namespace

#include "link/frames.h"

#include <gtest/gtest.h>
#include <numeric>

namespace {

TEST(Frames, ChecksumsAndLengthBytesFollowTheFrameLayout) {
    auto sum = [](const auto& frame) { return std::accumulate(frame.begin(), frame.end(), 0); };
    EXPECT_EQ(sum(frames::kMode1Request), 0x200);
    EXPECT_EQ(sum(frames::kChatterFrame), 0x200);
    // 0x55 plus the bytes between the length byte and the checksum.
    EXPECT_EQ(frames::kMode1Request[1], 0x55 + 1);
    EXPECT_EQ(frames::kChatterFrame[1], 0x55);
    EXPECT_EQ(frames::kMode1ReplyHeader[1], 0x55 + frames::kReplyLength - 3);
}

TEST(Frames, RequestTextHasTwoSpacesBeforeTheMode) {
    EXPECT_EQ(frames::request_text(), QStringLiteral("F0 56  01 B9"));
}

} // namespace

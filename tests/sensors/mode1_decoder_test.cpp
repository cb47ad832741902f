// SPDX-License-Identifier: GPL-3.0-or-later
#include "sensors/mode1_decoder.h"

#include <gtest/gtest.h>
#include <vector>

namespace {

const QLocale kC = QLocale::c();
const QString kDeg = QString(QChar(0x00B0));

std::vector<std::int32_t> frame_with(int position, int value, int fill = 0) {
    std::vector<std::int32_t> data(67, fill);
    data[static_cast<std::size_t>(position - 1)] = value;
    return data;
}

TEST(Mode1Decode, AllZeroAndAllFullFrames) {
    EXPECT_EQ(mode1::decode(std::vector<std::int32_t>(67, 0), kC),
              (mode1::Texts{"0", "-40" + kDeg, "-40" + kDeg, "0", "0", "0"}));
    EXPECT_EQ(mode1::decode(std::vector<std::int32_t>(67, 255), kC),
              (mode1::Texts{"6375", "151.25" + kDeg, "151.25" + kDeg, "5", "255", "26"}));
}

// Each value from its own byte, and from no other: a byte of 37 elsewhere
// changes nothing.
TEST(Mode1Decode, EachValueFromItsOwnByte) {
    using enum mode1::Value;
    // clang-format off
    const struct { mode1::Value which; int position, byte; QString text; } cases[] = {
        {EngineSpeed, 11, 32, "800"},        {IdleAirControl, 25, 200, "200"},
        {Coolant, 7, 26, "-20.5" + kDeg},    {Coolant, 7, 53, "-0.25" + kDeg},
        {Coolant, 7, 54, "0.5" + kDeg},      {CoolantAtStart, 8, 1, "-39.25" + kDeg},
        {ThrottleVolts, 9, 1, "0.0196078431372549"}, {ThrottleVolts, 9, 26, "0.509803921568627"},
        {ThrottleVolts, 9, 36, "0.705882352941176"}, // 5 / 255 first, then times the byte
        {ThrottleVolts, 9, 128, "2.50980392156863"},
        {Battery, 34, 125, "12"}, {Battery, 34, 126, "13"}, {Battery, 34, 135, "14"}, // ties to even
        {Battery, 34, 5, "0"},    {Battery, 34, 15, "2"},
    };
    // clang-format on
    for (const auto& c : cases)
        EXPECT_EQ(mode1::decode(frame_with(c.position, c.byte, 37), kC)[c.which], c.text) << c.byte;
}

} // namespace

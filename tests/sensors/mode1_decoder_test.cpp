// SPDX-License-Identifier: GPL-3.0-or-later
#include "sensors/mode1_decoder.h"

#include "common/raised_error.h"

#include <gtest/gtest.h>
#include <vector>

namespace {

const QLocale kC = QLocale::c();
const QString kDeg = QString(QChar(0x00B0));

// Each formula at its ends and where rounding or the order of operations shows.
TEST(Mode1Decode, EachFormula) {
    using namespace mode1;
    // clang-format off
    const struct { Formula formula; int byte; QString text; } cases[] = {
        {engineSpeed, 32, "800"}, {engineSpeed, 255, "6375"}, {steps, 200, "200"}, {steps, 255, "255"},
        {temperature, 0, "-40" + kDeg}, {temperature, 26, "-20.5" + kDeg}, {temperature, 53, "-0.25" + kDeg},
        {temperature, 54, "0.5" + kDeg}, {temperature, 1, "-39.25" + kDeg}, {temperature, 255, "151.25" + kDeg},
        {throttleVolts, 0, "0"}, {throttleVolts, 1, "0.0196078431372549"}, {throttleVolts, 26, "0.509803921568627"},
        {throttleVolts, 36, "0.705882352941176"}, // 5 / 255 first, then times the byte
        {throttleVolts, 128, "2.50980392156863"}, {throttleVolts, 255, "5"}, {batteryVolts, 5, "0"},
        {batteryVolts, 125, "12"}, {batteryVolts, 126, "13"}, {batteryVolts, 135, "14"}, // ties to even
        {batteryVolts, 15, "2"}, {batteryVolts, 255, "26"},
    };
    // clang-format on
    for (const auto& c : cases)
        EXPECT_EQ(c.formula(c.byte, kC), c.text) << c.byte;
}

TEST(Mode1Decode, OnlyWholeRepliesOfBytes) {
    std::vector<std::int32_t> data(67, 255);
    EXPECT_NO_THROW(mode1::checkReply(data));
    EXPECT_THROW(mode1::checkReply(std::span(data).first(66)), RaisedError);
    for (int last : {256, -1})
        EXPECT_THROW(mode1::checkReply((data.back() = last, data)), RaisedError) << last;
}

} // namespace

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLocale>
#include <QString>
#include <array>
#include <cstdint>
#include <span>

// Turns one 67-byte mode 1 reply into the six display texts.
namespace mode1 {

inline constexpr int kFrameLength = 67;

// The six values in the order they are computed and written.
enum Value {
    EngineSpeed,
    Coolant,
    CoolantAtStart,
    ThrottleVolts,
    IdleAirControl,
    Battery,
    kValueCount
};

using Texts = std::array<QString, kValueCount>;

// `data` holds frame positions 1 to 67 (data[0] is position 1), each 0 to 255.
// Raises RaisedError for any other shape or value. The texts are full length;
// cutting them to fit a box is the box's business.
Texts decode(std::span<const std::int32_t> data, const QLocale& locale = QLocale());

// A double rounded to 15 significant digits in plain decimal: no exponent,
// no trailing zeros, the locale's decimal separator.
QString format_double(double value, const QLocale& locale = QLocale());

// Nearest integer, ties to the even one (12.5 -> 12, 13.5 -> 14).
std::int16_t round_half_even(double value);

} // namespace mode1

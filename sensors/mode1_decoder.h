// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "link/frames.h"

#include <QLocale>
#include <QString>
#include <cstdint>
#include <span>

// Turns the bytes of one mode 1 reply into display texts. Which byte feeds
// which box, and by which formula, is in the window's control table.
namespace mode1 {

// Makes a value's full text from its byte (0 to 255); cutting it to fit a box
// is the box's business.
using Formula = QString (*)(int byte, const QLocale& locale);

QString engineSpeed(int byte, const QLocale& locale);   // byte x 25
QString temperature(int byte, const QLocale& locale);   // byte x 0.75 - 40, degree sign
QString throttleVolts(int byte, const QLocale& locale); // 5 / 255 first, then x byte
QString steps(int byte, const QLocale& locale);         // the byte itself
QString batteryVolts(int byte, const QLocale& locale);  // byte / 10, ties to even

// `data` holds reply positions 1 to 67 (data[0] is position 1), each 0 to 255;
// raises RaisedError for any other shape or value.
void checkReply(std::span<const std::int32_t> data);

// The text of the value at 1-based `position` of a checked reply.
inline QString valueText(std::span<const std::int32_t> data, int position, Formula formula,
                         const QLocale& locale = QLocale()) {
    return formula(data[static_cast<std::size_t>(position - 1)], locale);
}

// A double rounded to 15 significant digits in plain decimal: no exponent,
// no trailing zeros, the locale's decimal separator.
QString formatDouble(double value, const QLocale& locale = QLocale());

// Nearest integer, ties to the even one (12.5 -> 12, 13.5 -> 14).
std::int16_t roundHalfEven(double value);

} // namespace mode1

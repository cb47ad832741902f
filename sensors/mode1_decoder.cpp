// SPDX-License-Identifier: GPL-3.0-or-later
#include "sensors/mode1_decoder.h"

#include "common/raised_error.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace mode1 {
namespace {

const QString kSource = QStringLiteral("apply_data");
const QChar kDegreeSign(0x00B0);

} // namespace

void checkReply(std::span<const std::int32_t> data) {
    if (data.size() != frames::kReplyLength) {
        throw RaisedError(9, kSource,
                          QStringLiteral("Subscript out of range: mode 1 data must hold "
                                         "positions 1 to 67, got %1 values")
                              .arg(data.size()));
    }
    for (std::size_t i = 0; i < data.size(); ++i) {
        if (data[i] < 0 || data[i] > 255) {
            throw RaisedError(6, kSource,
                              QStringLiteral("Overflow: mode 1 data position %1 holds %2, "
                                             "not a byte value")
                                  .arg(i + 1)
                                  .arg(data[i]));
        }
    }
}

std::int16_t roundHalfEven(double value) {
    const double floor = std::floor(value);
    const double fraction = value - floor;
    double result = fraction < 0.5 ? floor : floor + 1;
    if (fraction == 0.5 && std::fmod(floor, 2.0) == 0)
        result = floor;
    return static_cast<std::int16_t>(result);
}

QString formatDouble(double value, const QLocale& locale) {
    if (value == 0 || !std::isfinite(value))
        return QStringLiteral("0");

    // printf rounds correctly to 15 significant digits and tells the exponent
    // after rounding; the digits are then laid out without an exponent.
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.14e", std::fabs(value));
    const std::string scientific(buffer);
    const auto e = scientific.find('e');
    std::string digits = scientific.substr(0, 1) + scientific.substr(2, e - 2);
    const int exponent = std::atoi(scientific.c_str() + e + 1);

    std::string integer, fraction;
    if (exponent < 0) {
        integer = "0";
        fraction = std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
    } else if (exponent + 1 >= static_cast<int>(digits.size())) {
        integer = digits + std::string(exponent + 1 - digits.size(), '0');
    } else {
        integer = digits.substr(0, exponent + 1);
        fraction = digits.substr(exponent + 1);
    }
    while (!fraction.empty() && fraction.back() == '0')
        fraction.pop_back();

    QString text = QString::fromStdString(integer);
    if (!fraction.empty())
        text += locale.decimalPoint() + QString::fromStdString(fraction);
    return value < 0 ? QLatin1Char('-') + text : text;
}

QString engineSpeed(int byte, const QLocale&) {
    return QString::number(static_cast<std::int16_t>(byte * 25));
}

QString temperature(int byte, const QLocale& locale) {
    return formatDouble(byte * 0.75 - 40, locale) + kDegreeSign;
}

QString throttleVolts(int byte, const QLocale& locale) {
    return formatDouble((5.0 / 255.0) * byte, locale);
}

QString steps(int byte, const QLocale&) {
    return QString::number(static_cast<std::int16_t>(byte));
}

QString batteryVolts(int byte, const QLocale&) {
    return QString::number(roundHalfEven(byte / 10.0));
}

} // namespace mode1

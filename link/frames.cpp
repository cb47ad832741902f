// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/frames.h"

namespace frames {

QString requestText() {
    auto hex = [](int value) { return QString::number(value, 16).toUpper(); };
    // The "  0" separator supplies the leading zero of 01.
    return hex(240) + " " + hex(86) + "  0" + hex(1) + " " + hex(185);
}

QString hexText(const QByteArray& bytes) {
    QString text;
    text.reserve(bytes.size() * 3);
    for (char c : bytes) {
        text += QString::number(static_cast<unsigned char>(c), 16).toUpper();
        text += QLatin1Char(' ');
    }
    return text;
}

} // namespace frames

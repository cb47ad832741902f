// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/frames.h"

namespace frames {

QString request_text() {
    auto hex = [](int value) { return QString::number(value, 16).toUpper(); };
    // The "  0" separator supplies the leading zero of 01.
    return hex(240) + " " + hex(86) + "  0" + hex(1) + " " + hex(185);
}

} // namespace frames

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

class QWidget;

namespace form1 {

// The controls of the window whose caption, in the fonts in use, does not fit
// inside the control or is covered by a box, list or button drawn above it:
// the fixed layout is measured for faces the machine may not have.
QStringList cutCaptions(const QWidget& window);

// The faces drawing the window's text and the captions of its outer frames.
QString facesInUse(const QWidget& window);

} // namespace form1

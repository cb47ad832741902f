// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "sensors/mode1_decoder.h"

#include <vector>

// The window's control table: every control with its container, position and
// size in twips, caption, focus order, tool tip and look. A value box's row
// also says what it shows: its unit, the reply position of its byte and the
// formula that makes its text.
namespace form1 {

enum class Kind { Frame, Label, DropDown, List, Button, ValueBox, Picture };

enum Look : unsigned {
    Plain = 0,
    Centred = 1u << 0,
    Wrapped = 1u << 1,
    AutoSize = 1u << 2,
    Bold = 1u << 3,       // "MS Sans Serif" 8.25 point bold
    FrameFont = 1u << 4,  // "Courier New" 9.75 point bold, frame captions
    StatusFont = 1u << 5, // "MS Sans Serif" 9.75 point
    BlueText = 1u << 6,
    RedText = 1u << 7,
};

struct Control {
    const char* name;
    Kind kind;
    // A control's name, or "tab0" to "tab4" for controls placed on a tab.
    const char* container;
    int left, top, width, height;
    const char* caption;
    int focusOrder; // -1: takes no focus
    const char* toolTip;
    unsigned look;
    // Value boxes only.
    const char* unit = nullptr; // what a screen reader says after the value
    int position = 0;           // 1-based, in the 67-byte reply
    mode1::Formula formula = nullptr;
};

inline constexpr int kTwipsPerPixel = 15;

extern const Control kControls[];
extern const int kControlCount;

// The value boxes' rows, in table order.
std::vector<const Control*> valueBoxRows();

} // namespace form1

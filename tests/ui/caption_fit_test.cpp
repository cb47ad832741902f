// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/caption_fit.h"
#include "ui/form1.h"

#include <gtest/gtest.h>

namespace {

// Fails on a machine without the faces the layout is measured for.
TEST(CaptionFit, EveryCaptionFitsInTheFontsInUse) {
    Form1 form;
    EXPECT_EQ(form1::cutCaptions(form).join(' ').toStdString(), "")
        << "faces in use: " << form1::facesInUse(form).toStdString();
}

// Each way a caption gets cut is noticed: a label too narrow or too short for
// its wrapped lines, a frame or button too narrow, a label under a value box.
TEST(CaptionFit, ACutCaptionIsNamed) {
    // clang-format off
    const struct { const char* moved; QRect to; const char* cut; } cases[] = {
        {"txtstatus", {6, 9, 60, 15}, "txtstatus"}, {"txtserial", {8, 16, 169, 20}, "txtserial"},
        {"Label2", {329, 80, 155, 30}, "Label2"},   {"fraserial", {8, 80, 40, 57}, "fraserial"},
        {"cmdexit", {395, 220, 20, 25}, "cmdexit"}, {"cool_text", {40, 43, 50, 18}, "Coolant"},
        {"IAC_text", {30, 134, 50, 19}, "IAC_lbl"},
    };
    // clang-format on
    for (const auto& c : cases) {
        Form1 form;
        form.findChild<QWidget*>(c.moved)->setGeometry(c.to);
        EXPECT_EQ(form1::cutCaptions(form).join(' ').toStdString(), c.cut) << c.moved;
    }
}

} // namespace

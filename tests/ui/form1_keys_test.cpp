// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/form1.h"
#include "ui/traffic_list.h"

#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace {

// Return and Enter press the focused button as Space does.
TEST(Keys, ReturnEnterAndSpacePressTheFocusedQuit) {
    for (const Qt::Key key : {Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter}) {
        Form1 form;
        form.show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
        auto* quit = form.findChild<QPushButton*>("cmdexit");
        quit->setFocus();
        QSignalSpy ending(&form, &Form1::programEnding);
        QTest::keyClick(quit, key);
        EXPECT_EQ(ending.count(), 1) << key;
    }
}

// A traffic list holding the focus shows a mark, with a line chosen or not.
TEST(Keys, AFocusedListShowsAMark) {
    Form1 form;
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    for (const char* name : {"listsent", "listreceived"}) {
        auto* list = form.findChild<TrafficList*>(name);
        for (const int row : {-1, 0}) {
            list->addItem("F0 56  01 B9");
            if (row >= 0)
                list->setCurrentRow(row);
            form.findChild<QPushButton*>("cmdconnect")->setFocus();
            const QImage unfocused = list->viewport()->grab().toImage();
            list->setFocus();
            EXPECT_NE(list->viewport()->grab().toImage(), unfocused) << name << " row " << row;
        }
    }
}

} // namespace

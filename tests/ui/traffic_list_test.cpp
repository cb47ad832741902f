// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/form1.h"
#include "ui/traffic_list.h"

#include "tests/support/print.h"
#include <QAccessible>
#include <QClipboard>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace {

// A Received line is the hex text of its bytes, a Sent line its text, read
// alike by the program and by accessibility clients (the text of one list
// item a line); a Received item is named by its size and first bytes, a Sent
// one by its text. Lines that repeat the one before and add to it, as a
// growing buffer gives them, read as every other line.
TEST(TrafficLists, ReadBackEveryLineAlsoAsAnAccessibleListItem) {
    Form1 form;
    form.parse_as_hex(QByteArray()); // an empty buffer adds no line
    for (const char* bytes :
         {"00", "0F0000F0", "0F0000F0", "0F0000F0F056", "00", "F05601B9F095010A0B"})
        form.parse_as_hex(QByteArray::fromHex(bytes));
    const QStringList received{
        "0 ", "F 0 0 F0 ", "F 0 0 F0 ", "F 0 0 F0 F0 56 ", "0 ", "F0 56 1 B9 F0 95 1 A B "};
    const QStringList names{"1 byte: 0",         "4 bytes: F 0 0 F0",
                            "4 bytes: F 0 0 F0", "6 bytes: F 0 0 F0 F0 56",
                            "1 byte: 0",         "9 bytes: F0 56 1 B9 F0 95 1 A\u2026"};
    const QStringList sent{"F0 56  01 B9", "F0 56  01 B9", "F0 56  01 B"};
    for (const QString& text : sent)
        form.findChild<TrafficList*>("listsent")->addItem(text);

    for (const auto& [name, lines] : {std::pair{"listreceived", received}, {"listsent", sent}}) {
        SCOPED_TRACE(name);
        TrafficList* l = form.findChild<TrafficList*>(name);
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(l);
        EXPECT_EQ(a->role(), QAccessible::List);
        ASSERT_EQ(std::pair(l->count(), a->childCount()),
                  std::pair(int(lines.size()), int(lines.size())));
        for (int i = 0; i < lines.size(); ++i) {
            QAccessibleInterface* item = a->child(i);
            EXPECT_EQ(std::tuple(l->line(i), item->textInterface()->text(0, 9999), item->role(),
                                 a->indexOfChild(item)),
                      std::tuple(lines[i], lines[i], QAccessible::ListItem, i));
            EXPECT_EQ(item->text(QAccessible::Name), lines == sent ? sent[i] : names[i]);
        }
    }
}

// Shown at the end, a list follows each new line; once the user scrolls back
// it stays where it was put, until End brings the newest line back.
TEST(TrafficLists, FollowTheNewestLineUnlessScrolledBack) {
    for (const auto& [scrollBy, key, follows] : {std::tuple{0, Qt::Key_Shift, true},
                                                 {-3, Qt::Key_Shift, false},
                                                 {0, Qt::Key_Home, false},
                                                 {-3, Qt::Key_End, true}}) {
        Form1 form;
        form.show();
        auto* list = form.findChild<TrafficList*>("listreceived");
        for (int i = 0; i < 50; ++i) {
            if (i == 20) {
                list->verticalScrollBar()->setValue(list->topRow() + scrollBy);
                QTest::keyClick(list, key);
            }
            const int top = list->topRow();
            form.parse_as_hex(QByteArray(71, char(i)));
            ASSERT_EQ(list->topRow(),
                      follows || i < 20 ? std::max(0, list->count() - list->visibleRows()) : top)
                << "line " << i << " scrolled by " << scrollBy << " key " << key;
        }
    }
}

// Copy puts the selected lines on the clipboard in full, one a line; the
// menu's Select All and Copy do as Ctrl+A and Ctrl+C.
TEST(TrafficLists, CopyGivesTheSelectedLinesWhole) {
    const QStringList lines{QString("A ").repeated(71), QString("B ").repeated(71),
                            QString("C ").repeated(71)};
    for (const auto& [current, key, modifier, first, last] :
         {std::tuple{1, Qt::Key_Shift, Qt::NoModifier, 1, 1},
          {0, Qt::Key_Down, Qt::ShiftModifier, 0, 1},
          {2, Qt::Key_Home, Qt::ShiftModifier, 0, 2},
          {-1, Qt::Key_A, Qt::ControlModifier, 0, 2}}) {
        Form1 form;
        auto* list = form.findChild<TrafficList*>("listreceived");
        for (const char byte : {'\x0A', '\x0B', '\x0C'})
            form.parse_as_hex(QByteArray(71, byte));
        if (current >= 0)
            list->setCurrentRow(current);
        QTest::keyClick(list, key, modifier);
        QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier);
        EXPECT_EQ(QGuiApplication::clipboard()->text(),
                  lines.mid(first, last - first + 1).join('\n'))
            << current << " " << key;
        QContextMenuEvent event(QContextMenuEvent::Keyboard, {4, 4}, {4, 4});
        QApplication::sendEvent(list, &event);
        const QList<QAction*> menu = list->findChild<QMenu*>()->actions(); // Copy, Select All
        menu[1]->trigger();
        menu[0]->trigger();
        EXPECT_EQ(QGuiApplication::clipboard()->text(), lines.join('\n'));
    }
}

// Return and Enter press the focused button as Space does; a traffic list
// holding the focus shows a mark, with a line chosen or not.
TEST(Keys, ReturnPressesTheFocusedButtonAndAFocusedListShowsAMark) {
    for (const Qt::Key key : {Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter}) {
        Form1 form;
        QSignalSpy ending(&form, &Form1::programEnding);
        QTest::keyClick(form.findChild<QPushButton*>("cmdexit"), key);
        EXPECT_EQ(ending.count(), 1) << key;
    }
    Form1 form;
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    auto* list = form.findChild<TrafficList*>("listreceived");
    for (const int row : {-1, 0}) {
        form.parse_as_hex("\x0A");
        if (row >= 0)
            list->setCurrentRow(row);
        form.findChild<QPushButton*>("cmdconnect")->setFocus();
        const QImage unfocused = list->viewport()->grab().toImage();
        list->setFocus();
        EXPECT_NE(list->viewport()->grab().toImage(), unfocused) << row;
    }
}

} // namespace

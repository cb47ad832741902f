#include "ui/form1.h"
#include "ui/traffic_list.h"

#include "tests/support/print.h"
#include <QAccessible>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QMenu>
#include <QScrollBar>
#include <QTest>
#include <functional>
#include <gtest/gtest.h>

namespace {

// A Received line is the hex text of its bytes, a Sent line its text, read
// alike by the program and by accessibility clients (one list item a line).
TEST(TrafficLists, ReadBackEveryLineAlsoAsAnAccessibleListItem) {
    Form1 form;
    // clang-format off
    const struct { const char* bytes; const char* text; } exchanges[] = {{"00", "0 "}, {"0F0000F0", "F 0 0 F0 "}, {"F05601B9", "F0 56 1 B9 "}};
    // clang-format on
    form.parse_as_hex(QByteArray()); // an empty buffer adds no line
    QStringList received;
    for (const auto& e : exchanges) {
        form.parse_as_hex(QByteArray::fromHex(e.bytes));
        received << e.text;
    }
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
            EXPECT_EQ(std::tuple(l->line(i), item->text(QAccessible::Name), item->role(),
                                 a->indexOfChild(item)),
                      std::tuple(lines[i], lines[i], QAccessible::ListItem, i));
        }
    }
}

// Shown at the end, a list follows each new line; once the user scrolls back
// it stays where it was put, until End brings the newest line back.
TEST(TrafficLists, FollowTheNewestLineUnlessScrolledBack) {
    const struct {
        const char* what;
        std::function<void(TrafficList*)> act;
        bool follows;
    } cases[] = {
        {"left alone", [](TrafficList*) {}, true},
        {"a line in view chosen", [](TrafficList* l) { l->setCurrentRow(l->count() - 2); }, true},
        {"Home", [](TrafficList* l) { QTest::keyClick(l, Qt::Key_Home); }, false},
        {"scroll bar up by 3",
         [](TrafficList* l) { l->verticalScrollBar()->setValue(l->topRow() - 3); }, false},
        {"Page Up then End",
         [](TrafficList* l) {
             QTest::keyClick(l, Qt::Key_PageUp);
             QTest::keyClick(l, Qt::Key_End);
         },
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Form1 form;
        form.show();
        auto* list = form.findChild<TrafficList*>("listreceived");
        for (int i = 0; i < 20; ++i)
            form.parse_as_hex(QByteArray(71, char(i)));
        ASSERT_GT(list->topRow(), 3); // scrolled to follow
        c.act(list);
        const int top = list->topRow();
        for (int i = 0; i < 30; ++i)
            form.parse_as_hex(QByteArray(71, char(i)));
        EXPECT_EQ(list->topRow(), c.follows ? list->count() - list->visibleRows() : top);
    }
}

// Copy puts the selected lines on the clipboard in full, one a line.
TEST(TrafficLists, CopyGivesTheSelectedLinesWhole) {
    const auto menuAction = [](TrafficList* l, int index) {
        QContextMenuEvent event(QContextMenuEvent::Keyboard, {4, 4}, l->mapToGlobal(QPoint(4, 4)));
        QApplication::sendEvent(l, &event);
        QMenu* menu = l->findChild<QMenu*>();
        menu->actions().at(index)->trigger();
        menu->hide();
    };
    const struct {
        const char* what;
        std::function<void(TrafficList*)> select;
        int first, last;
    } cases[] = {
        {"one line", [](TrafficList* l) { l->setCurrentRow(1); }, 1, 1},
        {"Shift+Down",
         [](TrafficList* l) {
             l->setCurrentRow(0);
             QTest::keyClick(l, Qt::Key_Down, Qt::ShiftModifier);
         },
         0, 1},
        {"Shift+Home from the last line",
         [](TrafficList* l) {
             l->setCurrentRow(2);
             QTest::keyClick(l, Qt::Key_Home, Qt::ShiftModifier);
         },
         0, 2},
        {"Ctrl+A", [](TrafficList* l) { QTest::keyClick(l, Qt::Key_A, Qt::ControlModifier); }, 0,
         2},
        {"Select All from the menu", [&](TrafficList* l) { menuAction(l, 1); }, 0, 2},
    };
    for (const bool byMenu : {false, true}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.what) + (byMenu ? ", Copy from the menu" : ", Ctrl+C"));
            Form1 form;
            auto* list = form.findChild<TrafficList*>("listreceived");
            for (const char byte : {'\x0A', '\x0B', '\x0C'})
                form.parse_as_hex(QByteArray(71, byte));
            QGuiApplication::clipboard()->clear();
            c.select(list);
            if (byMenu)
                menuAction(list, 0);
            else
                QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier);
            QStringList lines{QString("A ").repeated(71), QString("B ").repeated(71),
                              QString("C ").repeated(71)};
            EXPECT_EQ(QGuiApplication::clipboard()->text(),
                      lines.mid(c.first, c.last - c.first + 1).join('\n'));
        }
    }
}

} // namespace

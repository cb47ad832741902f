#include "ui/form1.h"
#include "ui/traffic_list.h"

#include <QAccessible>
#include <QLineEdit>
#include <QScrollBar>
#include <QTest>
#include <gtest/gtest.h>

namespace {

class TrafficLists : public ::testing::Test {
protected:
    void SetUp() override {
        form.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    }
    TrafficList* list(const char* name) { return form.findChild<TrafficList*>(name); }
    void fill(TrafficList* l, int lines, int from = 0) {
        for (int i = from; i < from + lines; ++i)
            l->addItem(QString::number(i));
    }
    Form1 form;
};

TEST_F(TrafficLists, ShowWholeLinesOnlyAndAScrollBarOnceFull) {
    struct Case {
        const char* name;
        int rows;
    } cases[] = {{"listsent", 4}, {"listreceived", 6}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TrafficList* l = list(c.name);
        EXPECT_EQ(l->visibleRows(), c.rows);
        fill(l, c.rows);
        QCoreApplication::processEvents();
        EXPECT_FALSE(l->verticalScrollBar()->isVisible());
        fill(l, 1, c.rows);
        QCoreApplication::processEvents();
        EXPECT_TRUE(l->verticalScrollBar()->isVisible());
        EXPECT_FALSE(l->horizontalScrollBar()->isVisible());
    }
}

TEST_F(TrafficLists, FollowTheNewestLineUnlessScrolledBack) {
    TrafficList* l = list("listreceived");
    fill(l, 50);
    EXPECT_EQ(l->topRow(), 50 - 6);
    fill(l, 1, 50);
    EXPECT_EQ(l->topRow(), 51 - 6);

    l->verticalScrollBar()->setValue(10);
    fill(l, 5, 51);
    EXPECT_EQ(l->topRow(), 10);
    EXPECT_EQ(l->count(), 56);

    l->verticalScrollBar()->setValue(l->verticalScrollBar()->maximum());
    fill(l, 1, 56);
    EXPECT_EQ(l->topRow(), 57 - 6);
}

// A Received line is the hex text of its bytes, a Sent line its text, read
// alike by the program and by accessibility clients (one list item a line).
TEST_F(TrafficLists, ReadBackEveryLineAlsoAsAnAccessibleListItem) {
    const struct {
        const char* bytes;
        const char* text;
    } exchanges[] = {{"00", "0 "}, {"0F0000F0", "F 0 0 F0 "}, {"F05601B9", "F0 56 1 B9 "}};
    QStringList received;
    for (const auto& e : exchanges) {
        form.parse_as_hex(QByteArray::fromHex(e.bytes));
        received << e.text;
    }
    const QStringList sent{"F0 56  01 B9", "F0 56  01 B9", "F0 56  01 B"};
    for (const QString& text : sent)
        list("listsent")->addItem(text);

    for (const auto& [name, lines] : {std::pair{"listreceived", received}, {"listsent", sent}}) {
        SCOPED_TRACE(name);
        TrafficList* l = list(name);
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(l);
        EXPECT_EQ(a->role(), QAccessible::List);
        ASSERT_EQ(l->count(), lines.size());
        ASSERT_EQ(a->childCount(), lines.size());
        for (int i = 0; i < lines.size(); ++i) {
            EXPECT_EQ(l->line(i), lines[i]);
            QAccessibleInterface* item = a->child(i);
            ASSERT_TRUE(item);
            EXPECT_EQ(item->role(), QAccessible::ListItem);
            EXPECT_EQ(item->text(QAccessible::Name), lines[i]);
            EXPECT_EQ(a->indexOfChild(item), i);
        }
    }
}

TEST_F(TrafficLists, ValueBoxesAreNamedByTheirLabels) {
    const std::pair<const char*, const char*> boxes[] = {
        {"rpmtext", "RPM:"},           {"cool_text", "Coolant Temperature:"},
        {"tps_text", "TPS Voltage:"},  {"cools_text", "Coolant Temp (startup):"},
        {"IAC_text", "IAC Position:"}, {"battery_text", "Battery Voltage:"}};
    for (const auto& [box, label] : boxes) {
        QLineEdit* edit = form.findChild<QLineEdit*>(box);
        EXPECT_EQ(QAccessible::queryAccessibleInterface(edit)->text(QAccessible::Name), label)
            << box;
    }
}

} // namespace

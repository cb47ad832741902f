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

// Whole lines only, a scroll bar once full, and the newest line in view
// unless the user scrolled back.
TEST_F(TrafficLists, ShowWholeLinesAndFollowTheNewestUnlessScrolledBack) {
    for (const auto& [name, rows] : {std::pair{"listsent", 4}, {"listreceived", 6}}) {
        SCOPED_TRACE(name);
        TrafficList* l = list(name);
        QScrollBar* bar = l->verticalScrollBar();
        EXPECT_EQ(l->visibleRows(), rows);
        fill(l, rows);
        QCoreApplication::processEvents();
        EXPECT_FALSE(bar->isVisible());
        fill(l, 50, rows);
        QCoreApplication::processEvents();
        EXPECT_TRUE(bar->isVisible() && !l->horizontalScrollBar()->isVisible());
        EXPECT_EQ(l->topRow(), 50);
        bar->setValue(10);
        fill(l, 5, rows + 50);
        EXPECT_EQ(l->topRow(), 10);
        bar->setValue(bar->maximum());
        fill(l, 1, rows + 55);
        EXPECT_EQ(l->topRow(), 56);
    }
}

// A Received line is the hex text of its bytes, a Sent line its text, read
// alike by the program and by accessibility clients (one list item a line).
TEST_F(TrafficLists, ReadBackEveryLineAlsoAsAnAccessibleListItem) {
    const struct {
        const char* bytes;
        const char* text;
    } exchanges[] = {{"00", "0 "}, {"0F0000F0", "F 0 0 F0 "}, {"F05601B9", "F0 56 1 B9 "}};
    form.parse_as_hex(QByteArray()); // an empty buffer adds no line
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

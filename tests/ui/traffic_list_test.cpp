#include "ui/form1.h"
#include "ui/traffic_list.h"

#include <QAccessible>
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

} // namespace

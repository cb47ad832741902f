#include "ui/form1.h"
#include "ui/traffic_list.h"

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
    EXPECT_EQ(l->line(55), "55");

    l->verticalScrollBar()->setValue(l->verticalScrollBar()->maximum());
    fill(l, 1, 56);
    EXPECT_EQ(l->topRow(), 57 - 6);
}

} // namespace

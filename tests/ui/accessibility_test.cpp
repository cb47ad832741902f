// SPDX-License-Identifier: GPL-3.0-or-later
// What the window tells a screen reader: every event that gets past the
// window's filter is recorded here, as the platform would receive it.
#include "ui/form1.h"
#include "ui/sstab.h"
#include "ui/traffic_list.h"

#include "tests/support/print.h"
#include <QAccessible>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QTest>
#include <QtGui/private/qguiapplication_p.h>
#include <QtGui/qpa/qplatformaccessibility.h>
#include <QtGui/qpa/qplatformintegration.h>
#include <gtest/gtest.h>

namespace {

struct Heard {
    const QObject* source;
    QString object; // object name, or the name an interface-only source gives
    QAccessible::Event type;
    int child;
};
std::vector<Heard> heard;

void record(QAccessibleEvent* event) {
    QAccessibleInterface* source = event->accessibleInterface();
    const QString name = event->object() ? event->object()->objectName()
                         : source        ? source->text(QAccessible::Name)
                                         : QString();
    heard.push_back({event->object(), name, event->type(), event->child()});
}
// Before any window exists, so the window's filter hands its events on to it.
[[maybe_unused]] const auto recording = QAccessible::installUpdateHandler(record);

// As a screen reader's presence makes it on a desktop.
void activate() {
    QGuiApplicationPrivate::platformIntegration()->accessibility()->setActive(true);
}

int count(const QString& object, QAccessible::Event type) {
    return int(std::count_if(heard.begin(), heard.end(),
                             [&](const Heard& h) { return h.type == type && h.object == object; }));
}

// The lists' new lines reach a listener about once a second, their scroll
// position only while the user is in the list, and nothing while their tab is
// hidden; a status change is announced once; the program's updates of a
// focused box are not announced.
TEST(Accessibility, ListenersHearWhatTheUserCanPerceiveAtAPaceTheyCanFollow) {
    activate();
    struct Case {
        const char* what;
        int tab;
        const char* focus;
        int objectCreated, barMoved, statusShown, boxTextEvents;
    };
    for (const Case& c : {Case{"Connect tab", 0, "listreceived", 3, 3, 1, 0},
                          Case{"Connect tab, list unfocused", 0, "cmdconnect", 3, 0, 1, 0},
                          Case{"Sensor Data tab", 1, "rpmtext", 0, 0, 1, 0}}) {
        SCOPED_TRACE(c.what);
        Form1 form;
        form.show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
        form.findChild<SSTab*>("SSTab1")->setTab(c.tab);
        form.findChild<QWidget*>(c.focus)->setFocus();
        QTest::qWait(50);
        heard.clear();
        bool connected = false;
        QElapsedTimer clock;
        clock.start();
        for (int pass = 0; clock.elapsed() < 1200; ++pass) {
            form.parse_as_hex(QByteArray(71, char(pass)));
            form.check_packet(QByteArray::fromHex("F05601B9F09501"), connected);
            const std::int32_t rpm = pass % 2 ? 31 : 32; // 775 and 800 rpm
            std::vector<std::int32_t> data(67, 0);
            data[10] = rpm;
            form.apply_data(data);
            QTest::qWait(10);
        }
        const QObject* bar = form.findChild<TrafficList*>("listreceived")->verticalScrollBar();
        const int barMoves = int(std::count_if(heard.begin(), heard.end(), [&](const Heard& h) {
            return h.type == QAccessible::ValueChanged && h.source == bar;
        }));
        EXPECT_LE(count("listreceived", QAccessible::ObjectCreated), c.objectCreated);
        EXPECT_EQ(count("listreceived", QAccessible::ObjectCreated) > 0, c.objectCreated > 0);
        EXPECT_LE(barMoves, c.barMoved);
        EXPECT_EQ(barMoves > 0, c.barMoved > 0);
        EXPECT_EQ(count("Connected", QAccessible::ObjectShow), c.statusShown);
        int boxText = 0;
        for (auto type :
             {QAccessible::TextUpdated, QAccessible::TextInserted, QAccessible::TextRemoved,
              QAccessible::TextCaretMoved, QAccessible::TextSelectionChanged})
            boxText += count("rpmtext", type);
        EXPECT_EQ(boxText, c.boxTextEvents);
    }
}

// A value box reads whole, in one run of attributes, with its unit beside it.
TEST(Accessibility, AValueBoxReadsWholeWithItsUnit) {
    Form1 form;
    std::vector<std::int32_t> data(67, 0);
    data[10] = 31; // 775 rpm
    data[6] = 205; // coolant, about 121 degrees
    data[9] = 128; // throttle, 2.50980392156863 volts
    form.apply_data(data);
    for (const auto& [box, unit] : {std::pair{"rpmtext", "rpm"},
                                    {"cool_text", "degrees"},
                                    {"tps_text", "volts"},
                                    {"IAC_text", "steps"}}) {
        SCOPED_TRACE(box);
        auto* widget = form.findChild<QLineEdit*>(box);
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(widget);
        QAccessibleTextInterface* text = a->textInterface();
        ASSERT_NE(text, nullptr);
        const int length = int(widget->text().size());
        EXPECT_EQ(std::tuple(text->characterCount(), text->text(0, length),
                             a->text(QAccessible::Value), a->text(QAccessible::Description)),
                  std::tuple(length, widget->text(), widget->text(), QString(unit)));
        for (int offset = 0; offset < length; ++offset) {
            int start = -1, end = -1;
            text->attributes(offset, &start, &end);
            EXPECT_EQ(std::pair(start, end), std::pair(0, length)) << offset;
        }
    }
    EXPECT_EQ(form.findChild<QLineEdit*>("rpmtext")->text(), "775");
}

// Ctrl+Tab and Ctrl+PageDown go to the next tab, Ctrl+Shift+Tab and
// Ctrl+PageUp to the one before, round the ends, from a control on the page;
// the strip then holds the focus and tells listeners which tab is chosen.
TEST(Accessibility, TabsSwitchByKeyboardAndTheStripNamesTheChosenTab) {
    activate();
    for (const auto& [key, modifiers, from, to] :
         {std::tuple<Qt::Key, Qt::KeyboardModifiers, int, int>{Qt::Key_Tab, Qt::ControlModifier, 0,
                                                               1},
          {Qt::Key_PageDown, Qt::ControlModifier, 4, 0},
          {Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier, 0, 4},
          {Qt::Key_PageUp, Qt::ControlModifier, 1, 0}}) {
        Form1 form;
        form.show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
        auto* tabs = form.findChild<SSTab*>("SSTab1");
        tabs->setTab(from);
        QWidget* focused = from == 0 ? form.findChild<QWidget*>("cmdconnect") : tabs->strip();
        focused->setFocus();
        QTest::qWait(20);
        heard.clear();
        QTest::keyClick(focused, key, modifiers);
        QTest::qWait(20);
        EXPECT_EQ(std::pair(tabs->Tab(), tabs->strip()->hasFocus()), std::pair(to, true))
            << key << " from " << from;
        const auto told = std::find_if(heard.rbegin(), heard.rend(),
                                       [](const Heard& h) { return h.type == QAccessible::Focus; });
        ASSERT_NE(told, heard.rend());
        EXPECT_EQ(std::pair(told->object, told->child), std::pair(QString("SSTab1_strip"), to));
    }
}

// The window is named without the title's run of spaces; a Received line by
// its size and first bytes, with the whole line as its text.
TEST(Accessibility, NamesSayWhatAThingIs) {
    Form1 form;
    EXPECT_EQ(QAccessible::queryAccessibleInterface(&form)->text(QAccessible::Name),
              "Carnovo Ver. 0.35");
    auto* list = form.findChild<TrafficList*>("listreceived");
    QAccessibleInterface* lines = QAccessible::queryAccessibleInterface(list);
    for (const auto& [hex, name] :
         {std::pair{"F05601B9F095010A0B", "9 bytes: F0 56 1 B9 F0 95 1 A\u2026"},
          {"F05601B9F09501", "7 bytes: F0 56 1 B9 F0 95 1"},
          {"00", "1 byte: 0"}}) {
        form.parse_as_hex(QByteArray::fromHex(hex));
        QAccessibleInterface* item = lines->child(list->count() - 1);
        const QString whole = list->line(list->count() - 1);
        EXPECT_EQ(
            std::pair(item->text(QAccessible::Name),
                      item->textInterface()->text(0, item->textInterface()->characterCount())),
            std::pair(QString::fromUtf8(name), whole));
    }
}

} // namespace

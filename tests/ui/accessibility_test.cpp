// SPDX-License-Identifier: GPL-3.0-or-later
// What the window tells a screen reader: every event that gets past the
// window's filter is recorded here, as the platform would receive it.
#include "ui/form1.h"
#include "ui/sstab.h"
#include "ui/traffic_list.h"

#include "tests/support/print.h"
#include <QAccessible>
#include <QLineEdit>
#include <QScrollBar>
#include <QTest>
#include <QtGui/private/qguiapplication_p.h>
#include <QtGui/qpa/qplatformaccessibility.h>
#include <QtGui/qpa/qplatformintegration.h>
#include <gtest/gtest.h>

namespace {

struct Heard {
    const QObject* source; // none for an interface of its own, such as the status notice
    QAccessible::Event type;
    int child;
};
std::vector<Heard> heard;

// Installed before any window exists, so the window's filter hands events on to it.
[[maybe_unused]] const auto recording = QAccessible::installUpdateHandler([](QAccessibleEvent* e) {
    heard.push_back({e->object(), e->type(), e->child()});
});

int count(const QObject* source, std::initializer_list<QAccessible::Event> types) {
    return int(std::count_if(heard.begin(), heard.end(), [&](const Heard& h) {
        return h.source == source && std::find(types.begin(), types.end(), h.type) != types.end();
    }));
}

// The lists' new lines reach a listener about once a second, their scroll
// position only while the user is in the list, and nothing while their tab is
// hidden; a status change is announced once; the program's updates of a
// focused box are not announced.
TEST(Accessibility, ListenersHearWhatTheUserCanPerceiveAtAPaceTheyCanFollow) {
    // Accessibility active, as a screen reader's presence makes it on a desktop.
    QGuiApplicationPrivate::platformIntegration()->accessibility()->setActive(true);
    for (const auto& [tab, focus, linesTold, barTold] : {std::tuple{0, "listreceived", true, true},
                                                         {0, "cmdconnect", true, false},
                                                         {1, "rpmtext", false, false}}) {
        SCOPED_TRACE(focus);
        Form1 form;
        form.show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
        form.findChild<SSTab*>("SSTab1")->setTab(tab);
        form.findChild<QWidget*>(focus)->setFocus();
        QTest::qWait(50);
        heard.clear();
        bool connected = false;
        QDeadlineTimer deadline(1200);
        for (int pass = 0; !deadline.hasExpired(); ++pass) {
            form.parse_as_hex(QByteArray(71, char(pass)));
            form.check_packet(QByteArray::fromHex("F05601B9F09501"), connected);
            std::vector<std::int32_t> data(67, 0);
            data[10] = 31 + pass % 2; // 775 and 800 rpm
            form.apply_data(data);
            QTest::qWait(10);
        }
        auto* list = form.findChild<TrafficList*>("listreceived");
        const int lines = count(list, {QAccessible::ObjectCreated});
        const int bar = count(list->verticalScrollBar(), {QAccessible::ValueChanged});
        EXPECT_EQ(std::tuple(lines > 0, lines <= 3, bar > 0, bar <= 3),
                  std::tuple(linesTold, true, barTold, true));
#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
        EXPECT_EQ(count(form.findChild<QWidget*>("lblconnected"), {QAccessible::Announcement}), 1);
#else
        EXPECT_EQ(count(nullptr, {QAccessible::ObjectShow}), 1); // "Connected"
#endif
        EXPECT_EQ(
            count(form.findChild<QWidget*>("rpmtext"),
                  {QAccessible::TextUpdated, QAccessible::TextInserted, QAccessible::TextRemoved,
                   QAccessible::TextCaretMoved, QAccessible::TextSelectionChanged}),
            0);
    }
}

// A value box reads whole, in one run of attributes, with its unit beside it.
TEST(Accessibility, AValueBoxReadsWholeWithItsUnit) {
    Form1 form;
    std::vector<std::int32_t> data(67, 0);
    data[10] = 31;                // 775 rpm
    data[6] = 205, data[9] = 128; // coolant and throttle
    form.apply_data(data);
    for (const auto& [box, unit] : {std::pair{"rpmtext", "rpm"},
                                    {"cool_text", "degrees"},
                                    {"tps_text", "volts"},
                                    {"IAC_text", "steps"}}) {
        auto* widget = form.findChild<QLineEdit*>(box);
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(widget);
        QAccessibleTextInterface* text = a->textInterface();
        const int length = int(widget->text().size());
        int start = -1, end = -1; // the run at the last character, which was cut
        text->attributes(length - 1, &start, &end);
        EXPECT_EQ(std::tuple(text->text(0, text->characterCount()), a->text(QAccessible::Value),
                             a->text(QAccessible::Description), start, end),
                  std::tuple(widget->text(), widget->text(), QString(unit), 0, length))
            << box;
    }
}

// Ctrl+Tab and Ctrl+PageDown go to the next tab, Ctrl+Shift+Tab and
// Ctrl+PageUp to the one before, round the ends, from a control on the page;
// the strip then holds the focus and tells listeners which tab is chosen.
TEST(Accessibility, TabsSwitchByKeyboardAndTheStripNamesTheChosenTab) {
    // Accessibility active, as a screen reader's presence makes it on a desktop.
    QGuiApplicationPrivate::platformIntegration()->accessibility()->setActive(true);
    using Keys = std::tuple<Qt::Key, Qt::KeyboardModifiers, int, int>;
    for (const auto& [key, modifiers, from, to] :
         {Keys{Qt::Key_Tab, Qt::ControlModifier, 0, 1},
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
        heard.clear();
        QTest::keyClick(focused, key, modifiers);
        QTest::qWait(20);
        const auto told = std::find_if(heard.rbegin(), heard.rend(),
                                       [](const Heard& h) { return h.type == QAccessible::Focus; });
        EXPECT_EQ(std::tuple(tabs->Tab(), tabs->strip()->hasFocus(),
                             told == heard.rend() ? nullptr : told->source,
                             told == heard.rend() ? -1 : told->child),
                  std::tuple(to, true, static_cast<const QObject*>(tabs->strip()), to))
            << key << " from " << from;
    }
}

} // namespace

// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/form1.h"

#include "tests/support/print.h"
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QTabBar>
#include <QTest>
#include <algorithm>
#include <gtest/gtest.h>

namespace {

// The window as the design gives it, in pixels at 96 dots per inch. A label
// sized to its text has only its top-left corner fixed (width -1). Where given:
// the font ("family pixels", "bold" if so), and the name screen readers give
// a value box, its label's text.
struct Expected {
    const char *name, *container; // container: objectName of the parent widget
    QRect geometry;
    QString caption, toolTip, font = "", accessibleName = "";
};

const QString kStatusTip = "Displays the connection status.";
// clang-format off
const Expected kWindow[] = {
    {"framain", "SSTab1_tab0", {6, 27, 494, 257}, "Settings", "", "Courier New 13 bold"},
    {"txtdescription", "framain", {8, 24, 249, 41}, "This program will attempt to establish a connection between your computers serial port to your vehicles ALDL connection port.  ", "", "MS Sans Serif 11"},
    {"fraserial", "framain", {8, 80, 249, 57}, "Serial Port", "", "MS Sans Serif 11"},
    {"txtserial", "fraserial", {8, 16, 169, 33}, "Select the serial port that you are using to connect to your vehicle", ""},
    {"comport", "fraserial", {176, 24, 65, 21}, "", "Select a COM port."},
    {"Frame1", "framain", {8, 152, 249, 57}, "Baud Rate", ""},
    {"txt_baud", "Frame1", {8, 16, 169, 33}, "Set the serial baud rate.  Currently only 8192 is supported.", ""},
    {"cbox_baud", "Frame1", {176, 24, 65, 21}, "", "8192 set by default."},
    {"Frame2", "framain", {5, 219, 214, 29}, "", ""},
    {"txtstatus", "Frame2", {6, 9, 113, 15}, "Connection status: ", kStatusTip, "MS Sans Serif 13"},
    {"lblconnected", "Frame2", {121, 11, 87, 14}, "Not Connected", kStatusTip, "MS Sans Serif 11 bold"},
    {"frasent", "framain", {280, 16, 185, 81}, "Sent Data", ""},
    {"listsent", "frasent", {8, 16, 169, 56}, "", "Bytes being sent."},
    {"frareceived", "framain", {280, 104, 201, 105}, "Received Data", ""},
    {"listreceived", "frareceived", {8, 16, 185, 82}, "", "Bytes recieved."},
    {"cmdconnect", "framain", {297, 220, 73, 25}, "Connect", "Attempt to connect to the ECM."},
    {"cmdexit", "framain", {395, 220, 73, 25}, "Quit", "Quit program."},
    {"frame_sensor", "SSTab1_tab1", {6, 27, 494, 257}, "Sensor Data", "", "Courier New 13 bold"},
    {"LBL_RPM", "frame_sensor", {3, 24, -1, 0}, "RPM:", ""},
    {"rpmtext", "frame_sensor", {116, 22, 50, 18}, "", "Engine speed in RPM's", "MS Sans Serif 11 bold", "RPM:"},
    {"Coolant", "frame_sensor", {3, 45, -1, 0}, "Coolant Temperature:", ""},
    {"cool_text", "frame_sensor", {116, 43, 50, 18}, "", "Coolant Temperature (degrees)", "", "Coolant Temperature:"},
    {"Coolant_startup", "frame_sensor", {3, 67, -1, 0}, "Coolant Temp (startup):", ""},
    {"cools_text", "frame_sensor", {116, 64, 50, 18}, "", "Coolant Temperature (degrees at startup)", "", "Coolant Temp (startup):"},
    {"tps_lbl", "frame_sensor", {2, 87, 109, 14}, "TPS Voltage:", ""},
    {"tps_text", "frame_sensor", {116, 85, 50, 18}, "", "", "", "TPS Voltage:"},
    {"IAC_lbl", "frame_sensor", {4, 109, -1, 0}, "IAC Position:", ""},
    {"IAC_text", "SSTab1_tab1", {122, 134, 50, 19}, "", "", "", "IAC Position:"},
    {"Battery_volt", "frame_sensor", {3, 129, -1, 0}, "Battery Voltage:", ""},
    {"battery_text", "frame_sensor", {116, 130, 50, 18}, "", "", "", "Battery Voltage:"},
    {"contruction_trouble", "SSTab1_tab2", {110, 95, 280, 56}, "Under construction....", ""},
    {"contruction_log", "SSTab1_tab3", {112, 118, 280, 56}, "Under construction....", ""},
    {"Image1", "SSTab1_tab4", {11, 26, 299, 279}, "", ""},
    {"Label1", "SSTab1_tab4", {312, 49, 185, 17}, "Carnovo Ver 0.33", "", "MS Sans Serif 11 bold"},
    {"Label2", "SSTab1_tab4", {329, 80, 155, 58}, "*", ""},
    {"Label3", "SSTab1_tab4", {327, 153, 160, 19}, "*", ""},
};
// clang-format on

QString captionOf(QWidget* w) {
    return w->property(qobject_cast<QGroupBox*>(w) ? "title" : "text").toString();
}

class Window : public ::testing::Test {
protected:
    Form1 form;
    template <typename T = QWidget> T* control(const char* name) {
        T* w = form.findChild<T*>(name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
};

TEST_F(Window, EveryControlSitsWhereTheDesignPutsIt) {
    for (const Expected& e : kWindow) {
        SCOPED_TRACE(e.name);
        QWidget* w = control(e.name);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->parentWidget()->objectName(), e.container);
        EXPECT_EQ(e.geometry.width() < 0 ? QRect(w->pos(), QSize(-1, 0)) : w->geometry(),
                  e.geometry);
        EXPECT_EQ(e.caption == "*" ? "*" : captionOf(w), e.caption);
        EXPECT_EQ(w->toolTip(), e.toolTip);
        const QFont f = w->font();
        const QString font =
            f.family() + " " + QString::number(f.pixelSize()) + (f.bold() ? " bold" : "");
        EXPECT_EQ(e.font.isEmpty() ? "" : font, e.font);
        EXPECT_EQ(e.accessibleName.isEmpty()
                      ? ""
                      : QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name),
                  e.accessibleName);
    }
    EXPECT_EQ(control("listsent")->palette().color(QPalette::Text), QColor(0, 0, 255));
    EXPECT_EQ(control("listreceived")->palette().color(QPalette::Text), QColor(255, 0, 0));
}

TEST_F(Window, WindowTabsAndStartingState) {
    EXPECT_EQ(form.windowTitle(), "Carnovo" + QString(124, ' ') + "Ver. 0.35");
    // Screen readers get the title without its run of spaces.
    EXPECT_EQ(QAccessible::queryAccessibleInterface(&form)->text(QAccessible::Name),
              "Carnovo Ver. 0.35");
    EXPECT_EQ(std::tuple(form.size(), form.minimumSize(), form.maximumSize()),
              std::tuple(QSize(509, 290), QSize(509, 290), QSize(509, 290)));
    EXPECT_FALSE(form.windowFlags() &
                 (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    EXPECT_EQ(control("SSTab1")->geometry(), QRect(1, 0, 507, 289));
    auto* strip = form.findChild<QTabBar*>();
    QStringList tabs;
    for (int i = 0; i < strip->count(); ++i)
        tabs << strip->tabText(i);
    EXPECT_EQ(tabs.join('|'), "Connect|Sensor Data|Trouble Codes|Logging|About...");
    EXPECT_EQ(strip->height(), 20);

    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    EXPECT_EQ(strip->currentIndex(), 0);
    EXPECT_FALSE(control("frame_sensor")->isVisible());
    QStringList items; // each box's items, then [its current item] and whether it is editable
    for (QComboBox* box : {control<QComboBox>("comport"), control<QComboBox>("cbox_baud")}) {
        for (int i = 0; i < box->count(); ++i)
            items << box->itemText(i) + "=" + box->itemData(i).toString();
        items << "[" + box->currentText() + (box->isEditable() ? "] editable" : "]");
    }
    EXPECT_EQ(items.join(' '), "COM 1=1 COM 2=2 COM 3=3 COM 4=4 [COM 1] 8192=8192 [8192]");
}

// Tab and Shift+Tab as a user presses them, from the tab strip round to it.
TEST_F(Window, FocusFollowsTheDesignOrder) {
    const QString orders[] = {"cmdconnect cmdexit listreceived listsent comport cbox_baud",
                              "rpmtext cool_text tps_text IAC_text battery_text cools_text"};
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    auto* strip = form.findChild<QTabBar*>();
    for (int tab : {0, 1})
        for (Qt::Key key : {Qt::Key_Tab, Qt::Key_Backtab}) {
            strip->setCurrentIndex(tab);
            strip->setFocus();
            QStringList visited, expected = orders[tab].split(' ') << "SSTab1_strip";
            if (key == Qt::Key_Backtab)
                std::reverse(expected.begin(), expected.end() - 1);
            for (int i = 0; i < expected.size(); ++i) {
                QTest::keyClick(QApplication::focusWidget(), key);
                visited << (QApplication::focusWidget() ? QApplication::focusWidget()->objectName()
                                                        : "");
            }
            EXPECT_EQ(visited.join(" ").toStdString(), expected.join(" ").toStdString())
                << "tab " << tab << (key == Qt::Key_Tab ? " Tab" : " Shift+Tab");
        }
    for (const char* name : {"Image1", "Label1", "Label2", "Label3", "framain", "frame_sensor"})
        EXPECT_EQ(control(name)->focusPolicy(), Qt::NoFocus) << name;
}

} // namespace

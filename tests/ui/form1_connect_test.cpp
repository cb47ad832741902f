// SPDX-License-Identifier: GPL-3.0-or-later
// The window against the simulated ECM on a real pseudo-terminal. Every test
// runs in a process of its own: ending the program ends the event loops.
#include "tools/ecm_sim/ecm_simulator.h"
#include "ui/form1.h"
#include "ui/form1_controls.h"

#include "tests/support/print.h"
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <functional>
#include <gtest/gtest.h>

namespace {

enum class Ended { ByTheTest, ByItself, TimedOut };

class Connect : public ::testing::Test {
protected:
    Connect() {
        // Closes every message box as soon as it shows, noting what it said.
        boxCloser.callOnTimeout([this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            boxes << QStringLiteral("%1 %2: %3 (%4) %5 button")
                         .arg(box->icon())
                         .arg(box->windowTitle(), box->text(), box->informativeText())
                         .arg(box->buttons().size());
            if (onBox)
                onBox();
            box->button(QMessageBox::Ok)->click();
        });
        boxCloser.start(5);
    }
    void startEcm(const char* scenario = "normal", ecmsim::Options o = {}) {
        o.scenario = *ecmsim::scenarioFromName(scenario);
        o.responseDelayMs = 2;
        o.pollLimit = 3;
        sim = std::make_unique<ecmsim::Simulator>(o);
        sim->start();
        qputenv("CARNOVO_COM1", sim->devicePath().c_str());
    }

    // Presses Connect; while the sequence runs, calls `step` every 10 ms and
    // presses Quit once it returns true, or once `limitMs` passed. A program
    // that outlives its Quit by 3 s loses its line, so the test ends anyway.
    Ended connectAndWatch(const std::function<bool()>& step, int limitMs) {
        QTimer probe;
        QElapsedTimer clock, sinceQuit;
        clock.start();
        Ended ended = Ended::ByItself;
        probe.callOnTimeout([&] {
            if (!form.sequenceRunning() || ended == Ended::TimedOut)
                return;
            if (sinceQuit.isValid()) {
                if (sinceQuit.elapsed() > 3000 && sim)
                    ended = Ended::TimedOut, sim->stop();
            } else if (const bool late = clock.elapsed() > limitMs; step() || late) {
                ended = late ? Ended::TimedOut : Ended::ByTheTest;
                sinceQuit.start();
                QTest::mouseClick(button("cmdexit"), Qt::LeftButton);
            }
        });
        probe.start(10);
        QTest::mouseClick(button("cmdconnect"), Qt::LeftButton);
        return ended;
    }

    QStringList values() {
        QStringList texts;
        for (const form1::Control* row : form1::valueBoxRows())
            texts << form.findChild<QLineEdit*>(row->name)->text();
        return texts;
    }
    QString status() { return form.findChild<QLabel*>("lblconnected")->text(); }
    QPushButton* button(const char* name) { return form.findChild<QPushButton*>(name); }
    int replies() { return sim->stats().repliesSent; }

    std::unique_ptr<ecmsim::Simulator> sim;
    Form1 form;
    QTimer boxCloser;
    QStringList boxes;
    std::function<void()> onBox;
    QSignalSpy ending{&form, &Form1::programEnding};
};

// Whatever else the line carries, the boxes show the ECM's values, in the
// user's number format, or nothing; Quit ends the program without a word.
class CleanValues : public Connect, public ::testing::WithParamInterface<std::string> {};

TEST_P(CleanValues, TheBoxesShowOnlyTheEcmsValuesAndQuitEndsSilently) {
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    ecmsim::Options o;
    o.fixedBytes = {{7, 26}, {8, 255}, {9, 128}, {11, 255}, {25, 7}, {34, 125}};
    o.every = 2; // a damaged reply every second one
    startEcm(GetParam().c_str(), o);
    form.show();
    const QStringList expected{"6375", "-20,5", "151,2", "2,509", "7", "12"};
    QStringList wrong;
    const Ended ended = connectAndWatch(
        [&] {
            if (values() != QStringList(6, "") && values() != expected)
                wrong << values().join(' ');
            return replies() >= 8;
        },
        10000);
    EXPECT_EQ(ended, Ended::ByTheTest);
    EXPECT_TRUE(wrong.isEmpty()) << wrong.first().toStdString();
    EXPECT_EQ(values(), expected);
    EXPECT_EQ(
        std::tuple(ending.count(), boxes.size(), form.serialControl().PortOpen(), form.isVisible()),
        std::tuple(1, 0, false, false));
}

INSTANTIATE_TEST_SUITE_P(Simulator, CleanValues,
                         ::testing::Values("normal", "glued-junk", "usb-bunches", "noise",
                                           "flipped-bit", "doubled-byte", "lost-byte",
                                           "repeated-chatter"));

// A quiet ECM (ignition off, a loose pin): "Not Connected" about 2 s after its
// last reply, "Connected" again when it answers; the values stay. The space
// bar or Enter after a click on Connect presses Connect again, which does
// nothing while it runs; they never reach Quit. Closing the window then acts
// as Quit.
TEST_F(Connect, TheStatusFollowsAQuietEcmAndKeysNeverReachQuitButClosingTheWindowDoes) {
    ecmsim::Options o;
    o.pauseMs = 3500;
    startEcm("pause-after", o);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    QElapsedTimer quiet;
    qint64 droppedAfter = -1;
    bool keysPressed = false, closed = false;
    const Ended ended = connectAndWatch(
        [&] {
            if (!keysPressed && status() == "Connected") {
                EXPECT_EQ(QApplication::focusWidget(), button("cmdconnect"));
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
                keysPressed = true;
            }
            if (replies() == 3 && !quiet.isValid())
                quiet.start();
            if (quiet.isValid() && droppedAfter < 0 && status() == "Not Connected")
                droppedAfter = quiet.elapsed();
            if (droppedAfter >= 0 && status() == "Connected" && !closed)
                closed = form.close();
            return false;
        },
        10000);
    EXPECT_FALSE(values().first().isEmpty());
    EXPECT_TRUE(droppedAfter > 1500 && droppedAfter < 3000) << droppedAfter;
    EXPECT_EQ(
        std::tuple(ended, closed, ending.count(), boxes.size(), form.serialControl().PortOpen()),
        std::tuple(Ended::ByItself, true, 1, 0, false));
}

// A quit that arrives while a warning is open ends the program once it is
// closed, rather than lying in wait for the next Connect.
TEST_F(Connect, AWarningThenAQuitAskedForWhileItWasOpen) {
    startEcm("wrong-header");
    onBox = [&] { form.cmdexit_Click(); };
    EXPECT_EQ(connectAndWatch([] { return false; }, 5000), Ended::ByItself);
    EXPECT_EQ(boxes,
              QStringList("2 Routine failed: Data was no good.  Connect again. () 1 button"));
    EXPECT_EQ(ending.count(), 1);
}

// A pulled cable: the error is shown within 0.2 s, the port closed, the
// status false no more.
TEST_F(Connect, APulledCableShowsTheErrorAndNotConnected) {
    startEcm("hang-up-after");
    QElapsedTimer sincePull;
    qint64 boxAfterPull = -1;
    onBox = [&] { boxAfterPull = sim->hungUp() && sincePull.isValid() ? sincePull.elapsed() : 0; };
    const auto watchPull = [&] {
        if (sim->hungUp() && !sincePull.isValid())
            sincePull.start();
        return false;
    };
    EXPECT_EQ(connectAndWatch(watchPull, 10000), Ended::ByItself);
    EXPECT_TRUE(sim->hungUp() && boxAfterPull >= 0 && boxAfterPull < 200) << boxAfterPull;
    EXPECT_TRUE(boxes.size() == 1 && boxes[0].startsWith("3 Carnovo: Run-time error '8020'"))
        << boxes.join("").toStdString();
    EXPECT_EQ(std::tuple(status(), ending.count(), form.serialControl().PortOpen()),
              std::tuple(QString("Not Connected"), 0, false));
}

} // namespace

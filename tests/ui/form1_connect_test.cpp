// The window against the simulated ECM on a real pseudo-terminal. Every test
// runs in a process of its own: ending the program ends the event loops.
#include "tools/ecm_sim/ecm_simulator.h"
#include "ui/form1.h"

#include "ui/traffic_list.h"
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

namespace {

struct Box {
    QMessageBox::Icon icon;
    QString title, text, informative;
    int buttons;
};

// Closes every message box as soon as it shows, noting what it said.
class BoxCloser {
public:
    BoxCloser() {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            boxes.push_back({box->icon(), box->windowTitle(), box->text(), box->informativeText(),
                             int(box->buttons().size())});
            box->button(QMessageBox::Ok)->click();
        });
        timer_.start();
    }
    std::vector<Box> boxes;

private:
    QTimer timer_;
};

class Connect : public ::testing::Test {
protected:
    void startEcm(ecmsim::Options options, int port = 1) {
        options.responseDelayMs = 2;
        sim = std::make_unique<ecmsim::Simulator>(options);
        sim->start();
        qputenv(QByteArray("CARNOVO_COM") + QByteArray::number(port), sim->devicePath().c_str());
    }
    void TearDown() override {
        for (int port = 1; port <= 4; ++port)
            qunsetenv(QByteArray("CARNOVO_COM") + QByteArray::number(port));
    }

    // Presses Connect; while the sequence runs, `step` is called every 10 ms and
    // Quit is pressed once it returns true (or after `limitMs`). Returns when
    // the Connect handler returns.
    void connectAndWatch(const std::function<bool()>& step, int limitMs = 20000) {
        QTimer probe;
        probe.setInterval(10);
        QElapsedTimer clock;
        clock.start();
        QObject::connect(&probe, &QTimer::timeout, [&] {
            if (!form.sequenceRunning())
                return;
            if (step() || clock.elapsed() > limitMs) {
                probe.stop();
                QTest::mouseClick(button("cmdexit"), Qt::LeftButton);
            }
        });
        probe.start();
        QTest::mouseClick(button("cmdconnect"), Qt::LeftButton);
    }

    QString text(const char* box) { return form.findChild<QLineEdit*>(box)->text(); }
    QString status() { return form.findChild<QLabel*>("lblconnected")->text(); }
    QPushButton* button(const char* name) { return form.findChild<QPushButton*>(name); }
    TrafficList* list(const char* name) { return form.findChild<TrafficList*>(name); }

    std::unique_ptr<ecmsim::Simulator> sim;
    Form1 form;
    BoxCloser closer;
    QSignalSpy ending{&form, &Form1::programEnding};
};

TEST_F(Connect, ReachesPollingAndShowsDecodedValuesThenQuitEndsSilently) {
    ecmsim::Options o;
    o.fixedBytes = {{7, 26}, {8, 255}, {9, 128}, {11, 255}, {25, 7}, {34, 125}};
    startEcm(o);
    form.show();
    int replies = 0;
    bool connectDisabled = false, sensorTabShown = false;
    connectAndWatch([&] {
        connectDisabled = !button("cmdconnect")->isEnabled();
        if (status() != "Connected" || text("rpmtext").isEmpty())
            return false;
        if (replies == 0) {
            replies = sim->stats().repliesSent;
            form.findChild<QTabBar*>()->setCurrentIndex(1);
            sensorTabShown = form.findChild<QLineEdit*>("rpmtext")->isVisible() &&
                             !form.findChild<QWidget*>("framain")->isVisible();
            form.cmdconnect_Click(); // a second press while running does nothing
        }
        return sim->stats().repliesSent >= replies + 3;
    });
    EXPECT_TRUE(connectDisabled);
    EXPECT_TRUE(sensorTabShown);
    EXPECT_EQ(text("rpmtext"), "6375");
    EXPECT_EQ(text("cool_text"), "-20.5");
    EXPECT_EQ(text("cools_text"), "151.2");
    EXPECT_EQ(text("tps_text"), "2.509");
    EXPECT_EQ(text("IAC_text"), "7");
    EXPECT_EQ(text("battery_text"), "12");
    EXPECT_EQ(sim->stats().sessions, 1);
    EXPECT_EQ(sim->stats().lastBaudSeen, 8192u);
    // One Sent Data line per request but the first.
    EXPECT_EQ(list("listsent")->count(), sim->stats().requestsSeen - 1);
    EXPECT_EQ(list("listsent")->line(0), "F0 56  01 B9");
    EXPECT_TRUE(list("listreceived")->line(0).startsWith("F0 "));

    EXPECT_EQ(ending.count(), 1);
    EXPECT_TRUE(closer.boxes.empty());
    EXPECT_FALSE(form.serialControl().PortOpen());
    EXPECT_FALSE(form.isVisible());
}

TEST_F(Connect, ClosingTheWindowWhileConnectingActsAsQuit) {
    startEcm({});
    form.show();
    connectAndWatch(
        [&] {
            if (status() == "Connected")
                form.close();
            return false;
        },
        5000);
    EXPECT_EQ(ending.count(), 1);
    EXPECT_TRUE(closer.boxes.empty());
    EXPECT_FALSE(form.serialControl().PortOpen());
}

// COM 1 leads nowhere: the error is shown and Connect works again, here
// with COM 3 chosen, which is where the ECM is.
TEST_F(Connect, MissingDeviceShowsTheErrorThenAnotherPortConnects) {
    qputenv("CARNOVO_COM1", "/dev/carnovo-not-here");
    connectAndWatch([] { return false; }, 3000);
    ASSERT_EQ(closer.boxes.size(), 1u);
    const Box& box = closer.boxes[0];
    EXPECT_EQ(box.icon, QMessageBox::Critical);
    EXPECT_EQ(box.buttons, 1);
    EXPECT_TRUE(box.text.contains(QString::number(MSComm::OpenFailed))) << box.text.toStdString();
    EXPECT_TRUE(box.text.contains("/dev/carnovo-not-here"));
    EXPECT_TRUE(box.informative.contains("mscomm32"));
    EXPECT_EQ(ending.count(), 0);
    EXPECT_TRUE(button("cmdconnect")->isEnabled());
    EXPECT_FALSE(form.serialControl().PortOpen());

    startEcm({}, 3);
    form.findChild<QComboBox*>("comport")->setCurrentIndex(2);
    connectAndWatch([&] { return status() == "Connected"; }, 5000);
    EXPECT_EQ(status(), "Connected");
    EXPECT_EQ(form.serialControl().CommPort(), 3);
    EXPECT_EQ(closer.boxes.size(), 1u);
}

TEST_F(Connect, PulledCableDuringPollingShowsTheErrorAndStaysIdle) {
    ecmsim::Options o;
    o.scenario = ecmsim::Scenario::HangUpAfter;
    o.pollLimit = 3;
    startEcm(o);
    connectAndWatch([] { return false; }, 10000);
    EXPECT_EQ(status(), "Connected");
    ASSERT_EQ(closer.boxes.size(), 1u);
    EXPECT_TRUE(closer.boxes[0].text.contains(QString::number(MSComm::PortLost)))
        << closer.boxes[0].text.toStdString();
    EXPECT_EQ(ending.count(), 0);
    EXPECT_FALSE(form.serialControl().PortOpen());
    EXPECT_TRUE(button("cmdconnect")->isEnabled());
}

// How each way a link fails ends, as the user sees it.
struct Fault {
    const char* name;
    ecmsim::Scenario scenario;
    int replyAfterMs;
    QString warning; // empty: no warning, polling goes on
    QString title;
    QString finalStatus;
};

void PrintTo(const Fault& f, std::ostream* os) {
    *os << f.name;
}

class Faults : public Connect, public ::testing::WithParamInterface<Fault> {};

TEST_P(Faults, EndAsTheUserExpects) {
    const Fault& f = GetParam();
    ecmsim::Options o;
    o.scenario = f.scenario;
    o.replyAfterMs = f.replyAfterMs;
    o.pollLimit = 2;
    startEcm(o);
    int sent = 0;
    connectAndWatch(
        [&] {
            // Without a warning, keep polling a little and then quit.
            if (status() == "Connected" && sent == 0)
                sent = list("listsent")->count();
            return sent > 0 && list("listsent")->count() >= sent + 3;
        },
        25000);
    if (f.warning.isEmpty()) {
        EXPECT_TRUE(closer.boxes.empty());
        EXPECT_EQ(ending.count(), 1);
    } else {
        ASSERT_EQ(closer.boxes.size(), 1u);
        EXPECT_EQ(closer.boxes[0].icon, QMessageBox::Warning);
        EXPECT_EQ(closer.boxes[0].text, f.warning);
        EXPECT_EQ(closer.boxes[0].title, f.title);
        EXPECT_EQ(closer.boxes[0].buttons, 1);
        EXPECT_EQ(ending.count(), 0);
        EXPECT_TRUE(button("cmdconnect")->isEnabled());
    }
    EXPECT_EQ(status(), f.finalStatus);
    EXPECT_FALSE(form.serialControl().PortOpen());
}

using S = ecmsim::Scenario;
const QString kTimedOut = "Connection timed out.", kFailed = "Connection Failed";
const QString kNoData = "Did not recieve a data packet after chatter packet",
              kNotReceived = "Data not recieved";
INSTANTIATE_TEST_SUITE_P(
    Simulator, Faults,
    ::testing::Values(
        Fault{"Silent", S::Silent, 0, kTimedOut, kFailed, "Not Connected"},
        Fault{"StrayAfterChatter", S::StrayAfterChatter, 0, kTimedOut, kFailed, "Not Connected"},
        Fault{"ChatterOnly", S::ChatterOnly, 0, kNoData, kNotReceived, "Not Connected"},
        Fault{"ShortReply", S::ShortReply, 0, kNoData, kNotReceived, "Not Connected"},
        Fault{"WrongHeader", S::WrongHeader, 0, "Data was no good.  Connect again.",
              "Routine failed", "Not Connected"},
        Fault{"WrongChecksumIsAccepted", S::WrongChecksum, 0, "", "", "Connected"},
        Fault{"ReplyJustInTime", S::LateReply, 1800, "", "", "Connected"},
        Fault{"ReplyTooLate", S::LateReply, 2100, kNoData, kNotReceived, "Not Connected"},
        Fault{"StopsAnsweringWhilePolling", S::StopAfter, 0, "", "", "Connected"},
        Fault{"NoiseBetweenExchanges", S::Noise, 0, "", "", "Connected"}),
    [](const auto& info) { return std::string(info.param.name); });

// Noise after every reply must not cost more than the odd exchange.
TEST_F(Connect, NoiseBetweenExchangesDoesNotStopTheDecoding) {
    ecmsim::Options o;
    o.scenario = ecmsim::Scenario::Noise;
    o.fixedBytes = {{11, 40}};
    startEcm(o);
    int whole = 0, polls = 0;
    connectAndWatch(
        [&] {
            whole = 0;
            polls = list("listsent")->count();
            for (int i = 0; i < list("listreceived")->count(); ++i) {
                const QString line = list("listreceived")->line(i);
                const qsizetype at = line.indexOf("F0 56 1 B9 F0 95 1 ");
                whole += at >= 0 && line.mid(at).split(' ', Qt::SkipEmptyParts).size() >= 71;
            }
            return polls >= 12;
        },
        10000);
    EXPECT_GE(polls, 12);
    EXPECT_GE(whole, polls - 1);
    EXPECT_EQ(text("rpmtext"), "1000");
}

} // namespace

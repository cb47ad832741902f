#include "common/raised_error.h"
#include "serial/mscomm.h"
#include "tests/support/pty.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <gtest/gtest.h>

namespace {

template <typename F> RaisedError expect_raise(F&& f) {
    try {
        f();
    } catch (const RaisedError& e) {
        return e;
    }
    ADD_FAILURE() << "nothing was raised";
    return RaisedError(0, "", "");
}

class SerialPort : public ::testing::Test {
protected:
    void SetUp() override {
        qputenv("CARNOVO_COM2", pty.slavePath().toLocal8Bit());
        comm.setInputLen(0);
        comm.setCommPort(2);
        comm.setPortOpen(true);
    }
    void TearDown() override { qunsetenv("CARNOVO_COM2"); }

    PtyPair pty;
    MSComm comm;
};

TEST_F(SerialPort, EveryByteValueSurvivesBothWays) {
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(comm.Input().isEmpty()); // an idle port: nothing, at once
    EXPECT_LT(clock.elapsed(), 100);
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(static_cast<char>(b));

    comm.Output(all);
    EXPECT_EQ(pty.read(all.size()), all);

    pty.write(all);
    QByteArray received;
    clock.restart();
    while (received.size() < all.size() && clock.elapsed() < 2000) {
        pumpEvents(1);
        received += comm.Input();
    }
    EXPECT_EQ(received, all);
}

// One receive event once the threshold is reached, none before; reading
// still takes every byte that is there.
TEST_F(SerialPort, ReceiveEventWaitsForTheThresholdButInputTakesEverything) {
    QSignalSpy events(&comm, &MSComm::OnComm);
    comm.setRThreshold(5);
    pty.write("abcd");
    pumpEvents(50);
    EXPECT_EQ(events.count(), 0);
    pty.write("e");
    pumpEvents(50);
    EXPECT_EQ(events.count(), 1);
    EXPECT_EQ(comm.Input(), "abcde");
    pty.write("fg");
    pumpEvents(50);
    EXPECT_EQ(events.count(), 1);
    EXPECT_EQ(comm.Input(), "fg");
}

TEST_F(SerialPort, FarEndHangingUpClosesThePortAndRaisesOnce) {
    pty.closeMaster();
    pumpEvents(100);
    EXPECT_FALSE(comm.PortOpen());
    const RaisedError lost = expect_raise([&] { comm.Input(); });
    EXPECT_EQ(lost.number(), MSComm::PortLost);
    EXPECT_TRUE(lost.description().contains(pty.slavePath())) << lost.what();
    // Afterwards the port is simply closed.
    EXPECT_EQ(expect_raise([&] { comm.Input(); }).number(), MSComm::PortNotOpen);
}

TEST(SerialControl, OpeningDiscardsBytesThatArrivedWhileClosed) {
    PtyPair pty;
    pty.write("stale");
    qputenv("CARNOVO_COM1", pty.slavePath().toLocal8Bit());
    MSComm comm;
    comm.setPortOpen(true);
    pumpEvents(50);
    EXPECT_EQ(comm.Input(), "");
    pty.write("fresh");
    pumpEvents(50);
    EXPECT_EQ(comm.Input(), "fresh");
    qunsetenv("CARNOVO_COM1");
}

TEST_F(SerialPort, APortInUseIsRefused) {
    MSComm second;
    second.setCommPort(2);
    const RaisedError e = expect_raise([&] { second.setPortOpen(true); });
    EXPECT_EQ(e.number(), MSComm::OpenFailed);
    EXPECT_TRUE(e.description().contains(pty.slavePath())) << e.what();
    EXPECT_FALSE(second.PortOpen());
    EXPECT_TRUE(comm.PortOpen());
}

TEST(SerialControl, BadPortChoicesRaiseAndLeaveItClosed) {
    MSComm comm;
    for (int port : {0, 5, -1}) {
        const RaisedError e = expect_raise([&] { comm.setCommPort(port); });
        EXPECT_EQ(e.number(), MSComm::InvalidPortNumber);
        EXPECT_TRUE(e.description().contains(QString::number(port)));
        EXPECT_EQ(comm.CommPort(), 1);
    }
    qputenv("CARNOVO_COM4", "/dev/carnovo-no-such-device");
    comm.setCommPort(4);
    const RaisedError e = expect_raise([&] { comm.setPortOpen(true); });
    qunsetenv("CARNOVO_COM4");
    EXPECT_EQ(e.number(), MSComm::OpenFailed);
    EXPECT_EQ(e.source(), "mscomm32");
    EXPECT_TRUE(e.description().contains("/dev/carnovo-no-such-device")) << e.what();
    EXPECT_FALSE(comm.PortOpen());
    EXPECT_EQ(comm.CommID(), -1);
    EXPECT_EQ(MSComm::deviceForPort(3), "/dev/ttyS2");
}

} // namespace

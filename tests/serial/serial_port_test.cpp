#include "common/raised_error.h"
#include "serial/mscomm.h"
#include "serial/open_refusal.h"
#include "serial/port_names.h"
#include "tests/support/pty.h"

#include <QSignalSpy>
#include <asm/termbits.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>

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
        pty.write("stale"); // reached the device while it was closed: nobody's
        comm.setInputLen(0);
        comm.setCommPort(2);
        comm.setPortOpen(true);
    }
    void TearDown() override { qunsetenv("CARNOVO_COM2"); }

    PtyPair pty;
    MSComm comm;
};

TEST_F(SerialPort, AFreshRawLineHoldsNothingAndEveryByteValueSurvivesBothWays) {
    termios2 tio{};
    ASSERT_EQ(ioctl(pty.masterFd(), TCGETS2, &tio), 0); // the master sees the slave's settings
    EXPECT_EQ(std::tuple(tio.c_ospeed, tio.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS)),
              std::tuple(9600u, tcflag_t(CS8)));
    EXPECT_FALSE(tio.c_iflag & (IXON | IXOFF | ICRNL) || tio.c_lflag & (ECHO | ICANON));
    QTest::qWait(50);
    EXPECT_EQ(comm.Input(), "");
    EXPECT_EQ(pty.read(5), "stale"); // echoed while the line was not yet raw
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(char(b));
    comm.Output(all);
    EXPECT_EQ(pty.read(all.size()), all);
    pty.write(all);
    QByteArray received;
    for (int ms = 0; received.size() < all.size() && ms < 2000; ++ms, QTest::qWait(1))
        received += comm.Input();
    EXPECT_EQ(received, all);
}

// One receive event once the threshold is reached, none before; reading
// still takes every byte that is there.
TEST_F(SerialPort, ReceiveEventWaitsForTheThresholdButInputTakesEverything) {
    QSignalSpy events(&comm, &MSComm::OnComm);
    comm.setRThreshold(5);
    pty.write("abcd");
    QTest::qWait(50);
    EXPECT_EQ(events.count(), 0);
    pty.write("e");
    QTest::qWait(50);
    EXPECT_EQ(events.count(), 1);
    EXPECT_EQ(comm.Input(), "abcde");
    pty.write("fg");
    QTest::qWait(50);
    EXPECT_EQ(events.count(), 1);
    EXPECT_EQ(comm.Input(), "fg");
}

TEST_F(SerialPort, FarEndHangingUpClosesThePortAndRaisesOnce) {
    qunsetenv("CARNOVO_COM2"); // the lost device is named even though COM 2 now means another
    pty.closeMaster();
    QTest::qWait(100);
    EXPECT_FALSE(comm.PortOpen());
    const RaisedError lost = expect_raise([&] { comm.Input(); });
    EXPECT_EQ(lost.number(), MSComm::PortLost);
    EXPECT_TRUE(lost.description().contains(pty.slavePath())) << lost.what();
    // Afterwards the port is simply closed.
    EXPECT_EQ(expect_raise([&] { comm.Input(); }).number(), MSComm::PortNotOpen);
}

TEST_F(SerialPort, APortInUseIsRefused) {
    MSComm second;
    second.setCommPort(2);
    const RaisedError e = expect_raise([&] { second.setPortOpen(true); });
    EXPECT_EQ(e.number(), MSComm::OpenFailed);
    EXPECT_TRUE(e.description().contains(pty.slavePath())) << e.what();
    EXPECT_TRUE(e.description().contains("another program is using the port")) << e.what();
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
    EXPECT_TRUE(e.description().contains("(/dev/carnovo-no-such-device): no such device"))
        << e.what();
    EXPECT_FALSE(comm.PortOpen());
    EXPECT_EQ(comm.CommID(), -1);
}

TEST(PortNames, UsbAdaptersComeFirstByTheirIdThenOnBoardPortsByName) {
    // clang-format off
    const QList<PortDescription> present = {
        {"ttyS1", "/dev/ttyS1", false, "", ""},   {"ttyUSB0", "/dev/ttyUSB0", true, "usb-Prolific_PL2303-if00-port0", ""},
        {"ttyS0", "/dev/ttyS0", false, "", ""},   {"ttyUSB1", "/dev/ttyUSB1", true, "usb-FTDI_FT232R_A1-if00-port0", ""},
        {"ttyACM1", "/dev/ttyACM1", true, "", ""}, {"ttyACM0", "/dev/ttyACM0", true, "", ""}, // no by-id link: the name counts
    };
    // clang-format on
    QStringList order;
    for (const PortDescription& port : comPortOrder(present))
        order << port.name;
    EXPECT_EQ(order.join(' '), "ttyACM0 ttyACM1 ttyUSB1 ttyUSB0 ttyS0 ttyS1");
}

TEST(OpenRefusal, TextNamesTheDeviceAndSaysWhatToDo) {
    using R = OpenRefusal;
    const QList<PortDescription> none, two = {{"ttyUSB0", "/dev/ttyUSB0", true, "", "FTDI FT232R"},
                                              {"ttyS0", "/dev/ttyS0", false, "", ""}};
    // clang-format off
    const struct { QString device; R refusal; const QList<PortDescription>& ports; QStringList says; } cases[] = {
        {"", R::NoSuchDevice, none, {"COM 3 has no", "no serial ports", "CARNOVO_COM3=/dev/"}},
        {"", R::NoSuchDevice, two, {"COM 1 is /dev/ttyUSB0 (FTDI FT232R), COM 2 is /dev/ttyS0."}},
        {"/dev/gone", R::NoSuchDevice, two, {"(/dev/gone): no such", "COM 2 is", "CARNOVO_COM3="}},
        {"/dev/ttyS0", R::PermissionDenied, none, {"group uucp", "-aG uucp $USER", "log out"}},
        {"/dev/ttyS0", R::Busy, none, {"(/dev/ttyS0): another program", "ModemManager"}},
        {"/dev/ttyS0", R::Other, none, {"COM 3 (/dev/ttyS0): Input/output error"}},
    };
    // clang-format on
    for (const auto& c : cases) {
        const QString text =
            refusalText(3, c.device, c.refusal, "Input/output error", "uucp", c.ports);
        for (const QString& part : c.says)
            EXPECT_TRUE(text.contains(part)) << text.toStdString() << " / " << part.toStdString();
    }
}

} // namespace

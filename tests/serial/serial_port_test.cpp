#include "common/raised_error.h"
#include "serial/baud_rate.h"
#include "serial/mscomm.h"
#include "serial/open_refusal.h"
#include "serial/port_names.h"
#include "tests/support/pty.h"

#include <QElapsedTimer>
#include <asm/termbits.h>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <tuple>
#include <unistd.h>

namespace {

termios2 master_view(int masterFd) {
    termios2 tio{};
    EXPECT_EQ(ioctl(masterFd, TCGETS2, &tio), 0);
    return tio;
}

// A control that is open on whatever handle the test gives it, and counts
// how often its handle is asked for.
struct FakeControl : CommControl {
    bool open = false;
    W32Comms::HANDLE handle = -1;
    mutable int handleReads = 0;
    bool PortOpen() const override { return open; }
    W32Comms::HANDLE CommID() const override {
        ++handleReads;
        return handle;
    }
    QString Name() const override { return "mscomm32"; }
};

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

TEST_F(SerialPort, OpensRawAt9600ThenSetBaudRateForcesExactly8192) {
    termios2 tio = master_view(pty.masterFd());
    EXPECT_EQ(tio.c_ospeed, 9600u);
    EXPECT_FALSE(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS));
    EXPECT_FALSE(tio.c_iflag & (IXON | IXOFF | ICRNL));
    EXPECT_FALSE(tio.c_lflag & (ECHO | ICANON));

    SetBaudRate(comm, 8192);
    EXPECT_EQ(GetBaudRate(comm), 8192);
    tio = master_view(pty.masterFd());
    EXPECT_EQ(tio.c_ospeed, 8192u);
    EXPECT_EQ(tio.c_ispeed, 8192u);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_FALSE(tio.c_cflag & (PARENB | CSTOPB));
}

TEST_F(SerialPort, RefusedRateRaises8015AndKeepsTheOldRate) {
    for (std::int32_t bad : {0, -8192}) {
        const RaisedError e = expect_raise([&] { SetBaudRate(comm, bad); });
        EXPECT_EQ(e.number(), 8015);
        EXPECT_EQ(e.source(), "mscomm32");
        EXPECT_EQ(e.description(), "Could not set port to specified baud rate");
        EXPECT_EQ(GetBaudRate(comm), 9600);
        EXPECT_TRUE(comm.PortOpen());
    }
}

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

TEST_F(SerialPort, FarEndHangingUpClosesThePortAndRaisesOnce) {
    qunsetenv("CARNOVO_COM2"); // the lost device is named even though COM 2 now means another
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
    EXPECT_TRUE(e.description().contains("another program is using the port")) << e.what();
    EXPECT_FALSE(second.PortOpen());
    EXPECT_TRUE(comm.PortOpen());
}

TEST(BaudRate, ClosedPortOrAHandleThatIsNotATerminal) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    FakeControl closed, notTerminal;
    notTerminal.open = true;
    notTerminal.handle = fds[0];
    const struct {
        FakeControl* control;
        int number;
        const char* description;
    } cases[] = {{&closed, 8018, "Operation valid only when the port is open"},
                 {&notTerminal, 8021, "Could not read current state of the port"}};
    for (const auto& c : cases) {
        for (auto call : {+[](CommControl& cc) { SetBaudRate(cc, 8192); },
                          +[](CommControl& cc) { (void)GetBaudRate(cc); }}) {
            const RaisedError e = expect_raise([&] { call(*c.control); });
            EXPECT_EQ(e.number(), c.number);
            EXPECT_EQ(e.source(), "mscomm32");
            EXPECT_EQ(e.description(), c.description);
        }
    }
    EXPECT_EQ(closed.handleReads, 0); // a closed port is not touched
    ::close(fds[0]);
    ::close(fds[1]);
}

TEST(CommState, LineFormatRoundTripsThroughTheRecord) {
    PtyPair pty;
    const int fd = ::open(pty.slavePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    // A pseudo-terminal always keeps 8 data bits and no parity, so those two
    // are only checked for staying put.
    struct Case {
        W32Comms::DWORD baud;
        W32Comms::BYTE stop;
        bool xonXoff;
    } cases[] = {
        {8192, W32Comms::ONESTOPBIT, false},
        {300, W32Comms::TWOSTOPBITS, true},
        {123457, W32Comms::ONESTOPBIT, true},
        {9600, W32Comms::ONESTOPBIT, false},
    };
    for (const auto& c : cases) {
        W32Comms::DCB dcb{};
        ASSERT_TRUE(W32Comms::GetCommState(fd, dcb));
        dcb.BaudRate = c.baud;
        dcb.StopBits = c.stop;
        dcb.fOutX = dcb.fInX = c.xonXoff;
        ASSERT_TRUE(W32Comms::SetCommState(fd, dcb));

        W32Comms::DCB back{}, again{};
        ASSERT_TRUE(W32Comms::GetCommState(fd, back));
        EXPECT_EQ(back.DCBlength, 28u);
        EXPECT_EQ(std::tuple(back.BaudRate, back.ByteSize, back.Parity, back.StopBits,
                             bool(back.fOutX), bool(back.fInX)),
                  std::tuple(c.baud, 8, W32Comms::NOPARITY, c.stop, c.xonXoff, c.xonXoff));
        // Writing back what was read changes nothing.
        ASSERT_TRUE(W32Comms::SetCommState(fd, back));
        ASSERT_TRUE(W32Comms::GetCommState(fd, again));
        EXPECT_EQ(std::memcmp(&again, &back, sizeof again), 0);
    }
    ::close(fd);
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
    if (presentPorts().size() < 4) {
        const RaisedError none = expect_raise([&] { comm.setPortOpen(true); });
        EXPECT_EQ(none.number(), MSComm::NoDevice);
        EXPECT_TRUE(none.description().contains("CARNOVO_COM4=")) << none.what();
    }
}

TEST(PortNames, UsbAdaptersComeFirstByTheirIdThenOnBoardPortsByName) {
    const QList<PortDescription> present = {
        {"ttyS1", "/dev/ttyS1", false, "", ""},
        {"ttyUSB0", "/dev/ttyUSB0", true, "usb-Prolific_PL2303-if00-port0", ""},
        {"ttyS0", "/dev/ttyS0", false, "", ""},
        {"ttyUSB1", "/dev/ttyUSB1", true, "usb-FTDI_FT232R_A1-if00-port0", ""},
        {"ttyACM1", "/dev/ttyACM1", true, "", ""}, // no by-id link: its name counts
        {"ttyACM0", "/dev/ttyACM0", true, "", ""},
    };
    QStringList order;
    for (const PortDescription& port : comPortOrder(present))
        order << port.name;
    EXPECT_EQ(order, QStringList({"ttyACM0", "ttyACM1", "ttyUSB1", "ttyUSB0", "ttyS0", "ttyS1"}));
}

TEST(OpenRefusal, TextNamesTheDeviceAndSaysWhatToDo) {
    using R = OpenRefusal;
    const QList<PortDescription> none, two = {{"ttyUSB0", "/dev/ttyUSB0", true, "", "FTDI FT232R"},
                                              {"ttyS0", "/dev/ttyS0", false, "", ""}};
    const struct {
        QString device;
        R refusal;
        const QList<PortDescription>& ports;
        QStringList says;
    } cases[] = {
        {"", R::NoSuchDevice, none, {"COM 3 has no", "no serial ports", "CARNOVO_COM3=/dev/"}},
        {"", R::NoSuchDevice, two, {"COM 1 is /dev/ttyUSB0 (FTDI FT232R), COM 2 is /dev/ttyS0."}},
        {"/dev/gone", R::NoSuchDevice, two, {"(/dev/gone): no such", "COM 2 is", "CARNOVO_COM3="}},
        {"/dev/ttyS0", R::PermissionDenied, none, {"group uucp", "-aG uucp $USER", "log out"}},
        {"/dev/ttyS0", R::Busy, none, {"(/dev/ttyS0): another program", "ModemManager"}},
        {"/dev/ttyS0", R::Other, none, {"COM 3 (/dev/ttyS0): Input/output error"}},
    };
    for (const auto& c : cases) {
        const QString text =
            refusalText(3, c.device, c.refusal, "Input/output error", "uucp", c.ports);
        for (const QString& part : c.says)
            EXPECT_TRUE(text.contains(part)) << text.toStdString() << " / " << part.toStdString();
    }
}

} // namespace

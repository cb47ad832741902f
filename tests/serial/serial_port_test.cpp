#include "common/raised_error.h"
#include "serial/baud_rate.h"
#include "serial/mscomm.h"
#include "tests/support/pty.h"

#include <QElapsedTimer>
#include <asm/termbits.h>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
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

TEST_F(SerialPort, OpensAtTheDesignTimeLineSettings) {
    const termios2 tio = master_view(pty.masterFd());
    EXPECT_EQ(tio.c_ospeed, 9600u);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_FALSE(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS));
    EXPECT_FALSE(tio.c_iflag & (IXON | IXOFF | ICRNL));
    EXPECT_FALSE(tio.c_lflag & (ECHO | ICANON));
}

TEST_F(SerialPort, SetBaudRateForcesExactly8192) {
    SetBaudRate(comm, 8192);
    EXPECT_EQ(GetBaudRate(comm), 8192);
    const termios2 tio = master_view(pty.masterFd());
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
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(static_cast<char>(b));

    comm.Output(all);
    EXPECT_EQ(pty.read(all.size()), all);

    pty.write(all);
    QByteArray received;
    QElapsedTimer clock;
    clock.start();
    while (received.size() < all.size() && clock.elapsed() < 2000) {
        pumpEvents(1);
        received += comm.Input();
    }
    EXPECT_EQ(received, all);
}

TEST_F(SerialPort, InputOnAnIdlePortReturnsNothingAtOnce) {
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(comm.Input().isEmpty());
    EXPECT_LT(clock.elapsed(), 100);
}

TEST_F(SerialPort, InputLenLimitsOneRead) {
    comm.setInputLen(3);
    pty.write("abcdef");
    pumpEvents(50);
    EXPECT_EQ(comm.Input(), "abc");
    EXPECT_EQ(comm.Input(), "def");
}

TEST_F(SerialPort, PortNumberCannotChangeWhileOpen) {
    EXPECT_EQ(expect_raise([&] { comm.setCommPort(3); }).number(), MSComm::PortAlreadyOpen);
    EXPECT_EQ(comm.CommPort(), 2);
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

TEST(SerialControl, APortInUseIsRefused) {
    PtyPair pty;
    qputenv("CARNOVO_COM1", pty.slavePath().toLocal8Bit());
    MSComm first, second;
    first.setPortOpen(true);
    const RaisedError e = expect_raise([&] { second.setPortOpen(true); });
    qunsetenv("CARNOVO_COM1");
    EXPECT_EQ(e.number(), MSComm::OpenFailed);
    EXPECT_TRUE(e.description().contains(pty.slavePath())) << e.what();
    EXPECT_FALSE(second.PortOpen());
    EXPECT_TRUE(first.PortOpen());
}

TEST(BaudRate, ClosedPortRaises8018AndTouchesNothing) {
    FakeControl closed;
    for (auto call : {+[](CommControl& c) { SetBaudRate(c, 8192); },
                      +[](CommControl& c) { (void)GetBaudRate(c); }}) {
        const RaisedError e = expect_raise([&] { call(closed); });
        EXPECT_EQ(e.number(), 8018);
        EXPECT_EQ(e.source(), "mscomm32");
        EXPECT_EQ(e.description(), "Operation valid only when the port is open");
    }
    EXPECT_EQ(closed.handleReads, 0);
}

TEST(BaudRate, HandleThatIsNotATerminalRaises8021) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    FakeControl notTerminal;
    notTerminal.open = true;
    notTerminal.handle = fds[0];
    for (auto call : {+[](CommControl& c) { SetBaudRate(c, 8192); },
                      +[](CommControl& c) { (void)GetBaudRate(c); }}) {
        const RaisedError e = expect_raise([&] { call(notTerminal); });
        EXPECT_EQ(e.number(), 8021);
        EXPECT_EQ(e.description(), "Could not read current state of the port");
    }
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

        W32Comms::DCB back{};
        ASSERT_TRUE(W32Comms::GetCommState(fd, back));
        EXPECT_EQ(back.DCBlength, 28u);
        EXPECT_EQ(back.BaudRate, c.baud);
        EXPECT_EQ(back.ByteSize, 8);
        EXPECT_EQ(back.Parity, W32Comms::NOPARITY);
        EXPECT_EQ(back.StopBits, c.stop);
        EXPECT_EQ(bool(back.fOutX), c.xonXoff);
        EXPECT_EQ(bool(back.fInX), c.xonXoff);

        // Writing back what was read changes nothing.
        ASSERT_TRUE(W32Comms::SetCommState(fd, back));
        W32Comms::DCB again{};
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
    EXPECT_TRUE(e.description().contains("/dev/carnovo-no-such-device")) << e.what();
    EXPECT_FALSE(comm.PortOpen());
    EXPECT_EQ(comm.CommID(), -1);
}

TEST(SerialControl, PortNumbersMapToDevices) {
    qunsetenv("CARNOVO_COM3");
    EXPECT_EQ(MSComm::deviceForPort(1), "/dev/ttyS0");
    EXPECT_EQ(MSComm::deviceForPort(3), "/dev/ttyS2");
    qputenv("CARNOVO_COM3", "/dev/ttyUSB0");
    EXPECT_EQ(MSComm::deviceForPort(3), "/dev/ttyUSB0");
    qunsetenv("CARNOVO_COM3");
}

} // namespace

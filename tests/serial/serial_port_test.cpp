// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/raised_error.h"
#include "serial/baud_rate.h"
#include "serial/linux/open_refusal.h"
#include "serial/linux/port_names.h"
#include "serial/mscomm.h"
#include "tests/support/as_nobody.h"
#include "tests/support/print.h"
#include "tests/support/pty.h"

#include <QDir>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <asm/termbits.h>
#include <cstdarg>
#include <ctime>
#include <gtest/gtest.h>
#include <linux/serial.h>
#include <numeric>
#include <optional>
#include <sys/ioctl.h>
#include <sys/syscall.h>

// Every line-settings write of the process, whoever makes it.
static int lineWrites = 0;
// When set, the driver's serial flags as a USB adapter's driver keeps them
// (a pseudo-terminal has none).
static std::optional<int> adapterFlags;
extern "C" int ioctl(int fd, unsigned long request, ...) noexcept {
    va_list args;
    va_start(args, request);
    void* argument = va_arg(args, void*);
    va_end(args);
    for (const unsigned long write : std::initializer_list<unsigned long>{
             TCSETS, TCSETSW, TCSETSF, TCSETS2, TCSETSW2, TCSETSF2, TIOCSSERIAL})
        lineWrites += request == write;
    if (adapterFlags && (request == TIOCGSERIAL || request == TIOCSSERIAL)) {
        auto* serial = static_cast<serial_struct*>(argument);
        if (request == TIOCGSERIAL)
            *serial = serial_struct{}, serial->flags = *adapterFlags;
        else
            adapterFlags = serial->flags;
        return 0;
    }
    return int(syscall(SYS_ioctl, fd, request, argument));
}

// When set, what read() answers once on that descriptor: 0, or -errno.
static std::optional<std::pair<int, int>> readFault;
extern "C" ssize_t read(int fd, void* buffer, size_t count) {
    if (!readFault || readFault->first != fd)
        return syscall(SYS_read, fd, buffer, count);
    errno = -std::exchange(readFault, std::nullopt)->second;
    return errno ? -1 : 0;
}

namespace {

// What a call raises: "number source: description (detail)", or "".
template <typename F> QString raised(F&& f) {
    try {
        f();
    } catch (const RaisedError& e) {
        return QStringLiteral("%1 %2: %3 (%4)")
            .arg(e.number())
            .arg(e.source(), e.description(), e.detail());
    }
    return "";
}

class SerialPort : public ::testing::Test {
protected:
    void SetUp() override {
        qputenv("CARNOVO_COM2", pty.slavePath().toLocal8Bit());
        pty.write("stale"); // reached the device while it was closed: nobody's
        comm.setCommPort(2);
        comm.setPortOpen(true);
    }

    PtyPair pty;
    MSComm comm;
};

TEST_F(SerialPort, AFreshRawLineHoldsNothingAndEveryByteValueSurvivesBothWays) {
    termios2 tio{};
    ASSERT_EQ(ioctl(pty.master, TCGETS2, &tio), 0); // the master sees the slave's settings
    EXPECT_EQ(std::tuple(tio.c_ospeed, tio.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS)),
              std::tuple(9600u, tcflag_t(CS8)));
    EXPECT_FALSE(tio.c_iflag & (IXON | IXOFF | ICRNL) || tio.c_lflag & (ECHO | ICANON));
    QTest::qWait(50);
    EXPECT_EQ(comm.Input(), "");
    // The kernel may echo them before the line turns raw, or not: a race of its own.
    const QByteArray echoed = pty.read();
    EXPECT_TRUE(echoed.isEmpty() || echoed == "stale") << echoed.toStdString();
    QByteArray all(256, 0);
    std::iota(all.begin(), all.end(), char(0));
    comm.Output(all);
    EXPECT_EQ(pty.read(), all);
    pty.write(all);
    QTest::qWait(50);
    EXPECT_EQ(comm.Input(), all);
}

// Closing puts back the line settings the port had before it was opened,
// however odd, also after SetBaudRate; the next program finds them as it left them.
TEST_F(SerialPort, ClosingPutsTheLineSettingsBackAsFound) {
    const auto settings = [&] {
        termios2 tio{};
        EXPECT_EQ(ioctl(pty.master, TCGETS2, &tio), 0); // the slave's, through the master
        return std::tuple(tio.c_iflag, tio.c_oflag, tio.c_cflag, tio.c_lflag, tio.c_ispeed,
                          tio.c_ospeed, QByteArray(reinterpret_cast<char*>(tio.c_cc), NCCS));
    };
    comm.setPortOpen(false);
    termios2 odd{};
    ASSERT_EQ(ioctl(pty.master, TCGETS2, &odd), 0);
    odd.c_cflag = (odd.c_cflag & ~(CBAUD | CSIZE | CRTSCTS)) | B38400 | CS7 | PARENB | PARODD;
    odd.c_iflag |= IXON | ICRNL, odd.c_lflag |= ICANON | ECHO, odd.c_cc[VMIN] = 0;
    ASSERT_EQ(ioctl(pty.master, TCSETS2, &odd), 0);
    const auto found = settings();
    comm.setPortOpen(true);
    SetBaudRate(comm, 8192);
    comm.setPortOpen(false);
    EXPECT_EQ(settings(), found);
}

// One receive event once the threshold is reached, none before; reading
// still takes every byte that is there. Between open and close the line is
// written only by opening and SetBaudRate: writing, new thresholds, waiting
// for bytes and reading leave its settings alone.
TEST_F(SerialPort, ReceiveEventWaitsForTheThresholdButInputTakesEverything) {
    comm.setPortOpen(false);
    const int beforeOpening = lineWrites;
    comm.setPortOpen(true);
    SetBaudRate(comm, 8192);
    QSignalSpy events(&comm, &MSComm::OnComm);
    // clang-format off
    const struct { const char* sent; int threshold; const char* bytes; int events; const char* input; } steps[] = {
        {"", 5, "abcd", 0, ""}, {"", 5, "e", 1, "abcde"}, {"", 5, "fg", 1, "fg"},
        {"\xF0\x56\x01\xB9", 8, "12345678", 2, "12345678"}, {"\xF0\x56\x01\xB9", 7, "1234567", 3, "1234567"},
    };
    // clang-format on
    for (const auto& step : steps) {
        if (*step.sent)
            comm.Output(step.sent);
        comm.setRThreshold(step.threshold);
        pty.write(step.bytes);
        QTest::qWait(50);
        EXPECT_EQ(events.count(), step.events) << step.bytes;
        EXPECT_EQ(*step.input ? comm.Input() : "", step.input);
    }
    EXPECT_EQ(lineWrites - beforeOpening, 2);
}

// Its own errors: a port number out of range, a device that is not there,
// a port another program holds.
TEST_F(SerialPort, RefusalsRaiseAndLeaveTheControlClosed) {
    MSComm second;
    qputenv("CARNOVO_COM1", "/dev/carnovo-no-such-device");
    // clang-format off
    const struct { int port; QString raised; int portAfter; } cases[] = {
        {5, "^8002 mscomm32: Invalid port number 5", 1},
        {1, "^8010 mscomm32: .*\\(/dev/carnovo-no-such-device\\): no such device", 1},
        {2, "^8010 mscomm32: .*\\(" + QRegularExpression::escape(pty.slavePath()) + "\\): another program is using the port", 2},
    };
    // clang-format on
    for (const auto& c : cases) {
        const QString error = raised([&] {
            second.setCommPort(c.port);
            second.setPortOpen(true);
        });
        EXPECT_TRUE(error.contains(QRegularExpression(c.raised))) << error.toStdString();
        EXPECT_EQ(std::tuple(second.CommPort(), second.PortOpen(), second.CommID()),
                  std::tuple(c.portAfter, false, W32Comms::HANDLE(-1)));
    }
    EXPECT_TRUE(comm.PortOpen());
}

// A pulled cable (the far end hangs up) is told within 0.2 s (the first
// event), whether the control listens or waits for a reply's bytes; the
// adapter's latency timer is put back and nothing spins afterwards.
TEST(PulledCable, RaisesLostConnectionAtOnceAndClosesThePort) {
    for (const int threshold : {3, 71}) {
        std::optional<PtyPair> pty(std::in_place);
        qputenv("CARNOVO_COM4", pty->slavePath().toLocal8Bit());
        MSComm comm;
        comm.setCommPort(4);
        adapterFlags = 0;
        comm.setPortOpen(true);
        comm.Output("\xF0\x56\x01\xB9");
        comm.setRThreshold(threshold);
        QTest::qWait(10);
        QSignalSpy event(&comm, &MSComm::OnComm);
        QElapsedTimer sincePull;
        sincePull.start();
        pty.reset();
        event.wait(1000);
        EXPECT_LT(sincePull.elapsed(), 200) << threshold;
        EXPECT_EQ(*std::exchange(adapterFlags, std::nullopt), 0); // the latency timer put back
        // Lost, the control sleeps however long nobody reads (clock(): the process's CPU time).
        // A spin takes the whole half second; an emulated processor's event loop takes ~60 ms.
        const std::clock_t cpuBefore = std::clock();
        QTest::qWait(500);
        EXPECT_LT((std::clock() - cpuBefore) * 1000 / CLOCKS_PER_SEC, 150) << threshold;
        const QString error = raised([&] { comm.Input(); });
        EXPECT_TRUE(error.startsWith("8020 mscomm32: Lost the connection to COM 4")) << threshold;
        EXPECT_FALSE(comm.PortOpen());
    }
}

// A read that fails as on a vanished device, or finds the line's end, is a
// lost device; one a signal broke off is tried again.
TEST_F(SerialPort, ReadFailuresOfAVanishedDeviceAreALostDevice) {
    const QString lost = "8020 mscomm32: Lost the connection to COM 2 (" + pty.slavePath() +
                         "): the device was unplugged or hung up ()";
    for (const auto& [fault, error] : std::initializer_list<std::pair<int, QString>>{
             {0, lost}, {-ENXIO, lost}, {-ENODEV, lost}, {-EINTR, "x"}}) {
        if (!comm.PortOpen())
            comm.setPortOpen(true);
        pty.write("x");
        QTest::qWait(20);
        readFault = {int(comm.CommID()), fault};
        QByteArray input;
        EXPECT_EQ(raised([&] { input = comm.Input(); }) + input, error) << fault;
    }
}

// Output never waits for the device: what it does not take yet goes out when
// it has room; a device that takes nothing for as long as a reply may take
// is a lost device, never a request reported sent and dropped.
TEST_F(SerialPort, OutputTheDeviceDoesNotTakeNeverBlocksAndIsNeverDropped) {
    pty.read(); // the kernel's echo of what came before the open, if any
    for (const bool lineGoesOn : {true, false}) {
        if (!comm.PortOpen())
            comm.setPortOpen(true);
        ASSERT_EQ(ioctl(int(comm.CommID()), TCXONC, TCOOFF), 0); // as by flow control
        QSignalSpy event(&comm, &MSComm::OnComm);
        comm.setRThreshold(67);
        QElapsedTimer output;
        output.start();
        comm.Output("\xF0\x56\x01\xB9");
        EXPECT_LT(output.elapsed(), 50);
        if (lineGoesOn) {
            EXPECT_EQ(pty.read(1000), "");
            ioctl(int(comm.CommID()), TCXONC, TCOON);
            EXPECT_EQ(pty.read(1500), "\xF0\x56\x01\xB9");
        }
        EXPECT_EQ(lineGoesOn ? event.count() == 0 : event.wait(3000) && output.elapsed() > 1800,
                  true)
            << lineGoesOn;
        EXPECT_EQ(raised([&] { comm.Input(); }),
                  lineGoesOn ? ""
                             : "8020 mscomm32: Lost the connection to COM 2 (" + pty.slavePath() +
                                   "): the device took nothing sent to it for 2 s ()");
        comm.setRThreshold(0);
    }
}

// While open, no other user's program opens the device, and an adapter's
// latency timer is short; closing puts both back.
TEST_F(SerialPort, WhileOpenTheDeviceIsOursAloneAndItsLatencyShort) {
    ASSERT_EQ(chmod(qPrintable(pty.slavePath()), 0666), 0);
    const auto openAsNobody = [&] {
        return asNobody([&] {
            return ::open(qPrintable(pty.slavePath()), O_RDWR | O_NONBLOCK) >= 0 ? 0 : errno;
        });
    };
    comm.setPortOpen(false);
    adapterFlags = ASYNC_SKIP_TEST;
    comm.setPortOpen(true);
    EXPECT_EQ(std::tuple(openAsNobody(), *adapterFlags),
              std::tuple(EBUSY, ASYNC_SKIP_TEST | ASYNC_LOW_LATENCY));
    comm.setPortOpen(false);
    EXPECT_EQ(std::tuple(openAsNobody(), *adapterFlags), std::tuple(0, ASYNC_SKIP_TEST));
    adapterFlags.reset();
}

// Every serial device the system shows, openable or not: USB adapters first,
// by their by-id link (else their name), then on-board UARTs, numbers by value.
TEST(PortNames, FoundInTheSystemsDeviceTreeInComOrder) {
    QTemporaryDir root;
    const QDir tree(root.path());
    const auto add = [&](const QString& path, const QByteArray& text = {}, const QString& to = {}) {
        tree.mkpath(QFileInfo(tree.filePath(path)).path());
        QFile file(tree.filePath(path));
        EXPECT_TRUE(to.isEmpty() ? file.open(QIODevice::WriteOnly) && file.write(text) >= 0
                                 : QFile::link(tree.filePath(to), file.fileName()));
    };
    const QString usb = "sys/devices/pci0/usb1/", uart = "sys/devices/platform/serial8250";
    // clang-format off
    for (const auto& [name, type, hardware, byId] : std::initializer_list<std::array<QString, 4>>{
             {"ttyUSB0", "", usb + "1-1/1-1:1.0/ttyUSB0", "usb-Prolific_PL2303-if00-port0"},
             {"ttyUSB1", "", usb + "1-2/1-2:1.0/ttyUSB1", "usb-FTDI_FT232R_A1-if00-port0"},
             {"ttyACM0", "", usb + "1-3/1-3:1.0", ""}, {"ttyS10", "4", uart, ""}, {"ttyS2", "4", uart, ""},
             {"ttyS3", "0", uart, ""}, {"tty1", "", "", ""}}) {
        // clang-format on
        add("sys/class/tty/" + name + (hardware.isEmpty() ? "/dev" : "/device"), "4:1", hardware);
        if (!type.isEmpty())
            add("sys/class/tty/" + name + "/type", type.toLatin1());
        if (!byId.isEmpty())
            add("dev/serial/by-id/" + byId, {}, "dev/" + name);
        if (!hardware.isEmpty())
            add(hardware + "/uevent");
        if (hardware.startsWith(usb))
            add(hardware.section('/', 0, 4) + "/idVendor", "0403");
    }
    add(usb + "1-2/manufacturer", "FTDI\n"), add(usb + "1-2/product", "FT232R USB UART\n");
    QStringList found;
    for (const PortDescription& port :
         comPortOrder(presentPorts({tree.filePath("sys"), tree.filePath("dev")})))
        found << port.location.mid(root.path().size()) + (port.usb ? "+" : "") + port.description;
    EXPECT_EQ(found.join(' '), "/dev/ttyACM0+ /dev/ttyUSB1+FTDI FT232R USB UART /dev/ttyUSB0+ "
                               "/dev/ttyS2 /dev/ttyS10");
}

TEST(OpenRefusal, TextNamesTheDeviceAndSaysWhatToDo) {
    using R = SerialError;
    using Kind = SerialError::Kind;
    const QList<PortDescription> none, two = {{"ttyUSB0", "/dev/ttyUSB0", true, "", "FTDI FT232R"},
                                              {"ttyS0", "/dev/ttyS0", false, "", ""}};
    // clang-format off
    const struct { QString device; Kind refusal; const QList<PortDescription>& ports; QStringList says; QString group = "uucp"; } cases[] = {
        {"", R::NoSuchDevice, none, {"COM 3 has no", "no serial ports", "CARNOVO_COM3=/dev/"}},
        {"", R::NoSuchDevice, two, {"COM 1 is /dev/ttyUSB0 (FTDI FT232R), COM 2 is /dev/ttyS0."}},
        {"/dev/gone", R::NoSuchDevice, two, {"(/dev/gone): no such", "COM 2 is", "CARNOVO_COM3="}},
        {"/dev/ttyS0", R::PermissionDenied, none, {"group uucp", "-aG uucp $USER", "log out"}},
        {"/dev/ttyS4", R::PermissionDenied, none, {"root alone", "KERNEL==\"ttyS4\", GROUP=\"dialout\"", "-aG dialout"}, "root"},
        {"/dev/ttyS0", R::Busy, none, {"(/dev/ttyS0): another program", "ModemManager"}},
        {"/dev/ttyS0", R::Other, none, {"COM 3 (/dev/ttyS0): Input/output error"}},
    };
    // clang-format on
    for (const auto& c : cases) {
        const QString text =
            refusalText(3, c.device, c.refusal, "Input/output error", c.group, c.ports);
        for (const QString& part : c.says)
            EXPECT_TRUE(text.contains(part)) << text.toStdString() << " / " << part.toStdString();
    }
}

// The port as a control sees it: open on a pseudo-terminal, or closed.
struct PtyControl : CommControl {
    PtyPair pty;
    int fd = ::open(pty.slavePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    bool open = true;
    ~PtyControl() override { ::close(fd); }
    bool PortOpen() const override { return open; }
    W32Comms::HANDLE CommID() const override { return fd; }
    QString Name() const override { return "mscomm32"; }
};

// A driver as it answers a request for 8192 baud: it runs `runs` baud
// instead, or (0) refuses.
template <W32Comms::DWORD runs>
W32Comms::BOOL rounds(W32Comms::HANDLE h, const W32Comms::DCB& dcb) {
    W32Comms::DCB chosen = dcb;
    if (chosen.BaudRate == 8192)
        chosen.BaudRate = runs;
    return runs && W32Comms::SetCommState(h, chosen);
}

// 8192 exactly, or within 2 % (a 16550 UART). Every failure leaves the port
// open at its old rate, also a driver that runs 9600 (a CP2102) instead.
TEST(BaudRate, FailuresRaiseTheirNumbersAndLeaveThePortAsItWas) {
    // clang-format off
    const struct { const char* name; bool open; CommStateCalls os; QString raised; std::int32_t rateAfter; } cases[] = {
        {"closed port", false, {}, "8018 mscomm32: Operation valid only when the port is open ()", 4800},
        {"state unreadable", true, {[](W32Comms::HANDLE, W32Comms::DCB&) { return W32Comms::BOOL(0); }}, "8021 mscomm32: Could not read current state of the port ()", 4800},
        {"rate refused", true, {W32Comms::GetCommState, rounds<0>}, "8015 mscomm32: Could not set port to specified baud rate ()", 4800},
        {"rounded to 9600", true, {W32Comms::GetCommState, rounds<9600>}, "8015 mscomm32: Could not set port to specified baud rate (The adapter chose 9600 baud instead of 8192.)", 4800},
        {"rounded within 2 %", true, {W32Comms::GetCommState, rounds<8355>}, "", 8355},
        {"exactly", true, {}, "", 8192},
    };
    // clang-format on
    for (auto& c : cases) {
        PtyControl port;
        SetBaudRate(port, 4800);
        port.open = c.open;
        EXPECT_EQ(raised([&] { SetBaudRate(port, 8192, c.os); }), c.raised) << c.name;
        port.open = true;
        EXPECT_EQ(GetBaudRate(port), c.rateAfter) << c.name;
    }
}

} // namespace

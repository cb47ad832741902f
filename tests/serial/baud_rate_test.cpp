#include "common/raised_error.h"
#include "serial/baud_rate.h"
#include "tests/support/pty.h"

#include <asm/termbits.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <tuple>
#include <unistd.h>

namespace {

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

// Drivers as they answer a request for 8192 baud.
W32Comms::BOOL refuses(W32Comms::HANDLE, const W32Comms::DCB&) {
    return 0;
}
template <W32Comms::DWORD runs>
W32Comms::BOOL rounds(W32Comms::HANDLE h, const W32Comms::DCB& dcb) {
    W32Comms::DCB chosen = dcb;
    if (chosen.BaudRate == 8192)
        chosen.BaudRate = runs;
    return W32Comms::SetCommState(h, chosen);
}
W32Comms::BOOL cannotRead(W32Comms::HANDLE, W32Comms::DCB&) {
    return 0;
}

// 8192 exactly, or within 2 % (a 16550 UART). Every failure leaves the port
// open at its old rate, also a driver that runs 9600 (a CP2102) instead.
TEST(BaudRate, FailuresRaiseTheirNumbersAndLeaveThePortAsItWas) {
    const QString closed = "Operation valid only when the port is open",
                  unreadable = "Could not read current state of the port",
                  refused = "Could not set port to specified baud rate";
    // clang-format off
    const struct { const char* name; bool open; CommStateCalls os; int number; QString description, detail; std::int32_t rateAfter; } cases[] = {
        {"closed port", false, {}, 8018, closed, "", 4800},
        {"state unreadable", true, {cannotRead, W32Comms::SetCommState}, 8021, unreadable, "", 4800},
        {"rate refused", true, {W32Comms::GetCommState, refuses}, 8015, refused, "", 4800},
        {"rounded to 9600", true, {W32Comms::GetCommState, rounds<9600>}, 8015, refused, "The adapter chose 9600 baud instead of 8192.", 4800},
        {"rounded within 2 %", true, {W32Comms::GetCommState, rounds<8355>}, 0, "", "", 8355},
        {"exactly", true, {}, 0, "", "", 8192},
    };
    // clang-format on
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        PtyControl port;
        SetBaudRate(port, 4800);
        port.open = c.open;
        try {
            SetBaudRate(port, 8192, c.os);
            EXPECT_EQ(c.number, 0);
        } catch (const RaisedError& e) {
            EXPECT_EQ(std::tuple(e.number(), e.source(), e.description(), e.detail()),
                      std::tuple(c.number, QString("mscomm32"), c.description, c.detail));
        }
        port.open = true;
        EXPECT_EQ(GetBaudRate(port), c.rateAfter);
    }
}

} // namespace

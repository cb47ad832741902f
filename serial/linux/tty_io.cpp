// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/linux/tty_io.h"

// The kernel's own termios constants; glibc's <termios.h> would clash.
#include <asm/termbits.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

namespace tty {

namespace {
bool setLowLatency(int fd, bool on) {
    serial_struct serial{};
    if (ioctl(fd, TIOCGSERIAL, &serial) != 0 || bool(serial.flags & ASYNC_LOW_LATENCY) == on)
        return false;
    serial.flags = on ? serial.flags | ASYNC_LOW_LATENCY : serial.flags & ~ASYNC_LOW_LATENCY;
    return ioctl(fd, TIOCSSERIAL, &serial) == 0;
}
} // namespace

bool requestLowLatency(int fd) {
    return setLowLatency(fd, true);
}

void endLowLatency(int fd) {
    setLowLatency(fd, false);
}

void discard(int fd) {
    (void)ioctl(fd, TCFLSH, TCIOFLUSH);
}

bool gone(int fd) {
    pollfd line{fd, POLLIN, 0};
    return poll(&line, 1, 0) > 0 && (line.revents & (POLLHUP | POLLERR | POLLNVAL));
}

int bytesWaiting(int fd, int& count) {
    count = 0;
    return ioctl(fd, TIOCINQ, &count) == 0 ? 0 : errno;
}

int readWaiting(int fd, QByteArray& into) {
    char chunk[512];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n > 0) {
            into.append(chunk, n);
            if (size_t(n) == sizeof chunk)
                continue;
            return 0;
        }
        if (n < 0 && errno == EINTR)
            continue;
        // The line is raw with VMIN 1: an empty driver answers EAGAIN, and 0
        // is the end of a line that was hung up.
        return n == 0 ? kHungUp : errno == EAGAIN ? 0 : errno;
    }
}

int writeSome(int fd, QByteArray& bytes) {
    while (!bytes.isEmpty()) {
        const ssize_t n = ::write(fd, bytes.constData(), size_t(bytes.size()));
        if (n > 0) {
            bytes.remove(0, n);
        } else if (n == 0 || errno == EAGAIN) {
            return 0;
        } else if (errno != EINTR) {
            return errno;
        }
    }
    return 0;
}

} // namespace tty

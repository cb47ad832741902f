// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/tty_tuning.h"

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

bool hungUp(int fd) {
    pollfd line{fd, POLLIN, 0};
    return poll(&line, 1, 0) > 0 && (line.revents & (POLLHUP | POLLERR | POLLNVAL));
}

int bytesWaiting(int fd, int& error) {
    int count = 0;
    error = ioctl(fd, TIOCINQ, &count) == 0 ? 0 : errno;
    return error ? 0 : count;
}

QByteArray readWaiting(int fd, int& error) {
    QByteArray bytes;
    char chunk[512];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n > 0) {
            bytes.append(chunk, n);
            if (size_t(n) == sizeof chunk)
                continue;
        } else if (n < 0 && errno == EINTR) {
            continue;
        }
        // The line is raw with VMIN 1: an empty driver answers EAGAIN, and 0
        // is the end of a line that was hung up.
        error = n > 0 || (n < 0 && errno == EAGAIN) ? 0 : n == 0 ? kHungUp : errno;
        return bytes;
    }
}

int writeAll(int fd, const QByteArray& bytes) {
    constexpr int kRoomWaitMs = 1000;
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n >= 0) {
            done += n;
            continue;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN)
            return errno;
        // A driver that takes nothing for a second drops the rest, like a full send buffer.
        pollfd line{fd, POLLOUT, 0};
        if (poll(&line, 1, kRoomWaitMs) <= 0)
            return 0;
        if (line.revents & (POLLHUP | POLLERR | POLLNVAL))
            return EIO;
    }
    return 0;
}

} // namespace tty

#include "serial/tty_tuning.h"

// termios2 comes from the kernel's headers; glibc's <termios.h> would clash.
#include <asm/termbits.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace tty {

int setReadThreshold(int fd, int bytes) {
    termios2 tio{};
    if (ioctl(fd, TCGETS2, &tio) != 0)
        return 0;
    const auto vmin = static_cast<cc_t>(std::clamp(bytes, 0, 255));
    if (tio.c_cc[VMIN] == vmin && tio.c_cc[VTIME] == 0)
        return 1;
    tio.c_cc[VMIN] = vmin;
    tio.c_cc[VTIME] = 0;
    return ioctl(fd, TCSETS2, &tio) == 0 ? 1 : 0;
}

void requestLowLatency(int fd) {
    serial_struct serial{};
    if (ioctl(fd, TIOCGSERIAL, &serial) != 0 || (serial.flags & ASYNC_LOW_LATENCY))
        return;
    serial.flags |= ASYNC_LOW_LATENCY;
    (void)ioctl(fd, TIOCSSERIAL, &serial);
}

int bytesWaiting(int fd) {
    int count = 0;
    return ioctl(fd, TIOCINQ, &count) == 0 ? count : 0;
}

double byteMs(int fd) {
    termios2 tio{};
    if (ioctl(fd, TCGETS2, &tio) != 0 || tio.c_ispeed == 0)
        return 0;
    return 10 * 1000.0 / tio.c_ispeed;
}

QByteArray readWaiting(int fd, int& error) {
    QByteArray bytes;
    char chunk[512];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n > 0) {
            bytes.append(chunk, n);
            continue;
        }
        // 0 is "nothing waiting" when the threshold is 0; EIO when the far end is gone.
        error = n < 0 && errno != EAGAIN && errno != EINTR ? errno : 0;
        return bytes;
    }
}

} // namespace tty

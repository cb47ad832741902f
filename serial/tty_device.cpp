// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/tty_device.h"

#include "serial/tty_io.h"
#include "serial/w32comms.h"

#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

TtyDevice::Opened TtyDevice::open(const QString& path, const QString& lockDirectory) {
    Opened opened;
    auto lock = std::make_unique<PortLock>(lockDirectory);
    opened.lockFile = lock->path(path);
    opened.lock = lock->acquire(path);
    if (opened.lock.kind != PortLock::Finding::Ours)
        return opened;

    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        opened.error = errno;
        return opened;
    }
    // Other programs stay out while the port is ours; then the line, raw.
    W32Comms::DCB dcb{};
    bool ready = ioctl(fd, TIOCEXCL) == 0 && W32Comms::GetCommState(fd, dcb);
    if (ready) {
        dcb.BaudRate = 9600;
        dcb.fBinary = 1;
        dcb.fParity = dcb.fOutxCtsFlow = dcb.fOutX = dcb.fInX = 0;
        dcb.fRtsControl = W32Comms::RTS_CONTROL_ENABLE;
        dcb.ByteSize = 8;
        dcb.Parity = W32Comms::NOPARITY;
        dcb.StopBits = W32Comms::ONESTOPBIT;
        ready = W32Comms::SetCommState(fd, dcb);
    }
    if (!ready) {
        opened.error = errno;
        ::close(fd);
        return opened;
    }
    // Bytes that reached the device while it was closed belong to nobody.
    tty::discard(fd);
    const bool lowLatency = tty::requestLowLatency(fd);
    opened.device.reset(new TtyDevice(fd, std::move(lock), lowLatency));
    return opened;
}

TtyDevice::~TtyDevice() {
    if (lowLatency_)
        tty::endLowLatency(fd_);
    (void)ioctl(fd_, TIOCNXCL);
    ::close(fd_);
    // lock_ goes last: the port is free before its lock file says so.
}

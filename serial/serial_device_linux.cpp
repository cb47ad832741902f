// SPDX-License-Identifier: GPL-3.0-or-later
// The serial device on Linux: a tty opened exclusively (TIOCEXCL) with its
// lock file taken, raw through termios2, its adapter's latency timer
// shortened, and the event loop watching its descriptor. Closing puts all of
// that back, the line settings as they were found included.
#include "serial/serial_device.h"

#include "serial/linux/line_state.h"
#include "serial/linux/open_refusal.h"
#include "serial/linux/port_lock.h"
#include "serial/linux/port_names.h"
#include "serial/linux/tty_io.h"

#include <QFile>
#include <QPointer>
#include <QSocketNotifier>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

struct SerialDevice::Native {
    int fd = -1;
    std::unique_ptr<PortLock> lock; // released last: the port is free before its lock file says so
    LineState found{};              // the line settings before the open wrote them
    bool lowLatency = false;
    QPointer<QSocketNotifier> readable;
    QPointer<QSocketNotifier> writable;
    SerialError lost; // once set, what every call answers

    // A call failed with `error`. One that finds the device gone marks it
    // so, and nothing is watched any more; the caller hears it from the
    // call, never from the lost signal, which comes from the event loop.
    SerialError failed(int error);
};

namespace {

SerialError refusal(SerialError::Kind kind, int error, const QString& description) {
    return {kind, static_cast<unsigned long>(error), description};
}

// A failed call on the open device; the errors a vanished device gives are Lost.
SerialError callFailure(int error) {
    if (error == tty::kHungUp)
        return {SerialError::Lost, 0, QStringLiteral("hung up")};
    const bool gone = error == EIO || error == ENXIO || error == ENODEV;
    const bool refused = error == EINVAL || error == ENOTTY;
    return {gone      ? SerialError::Lost
            : refused ? SerialError::Unsupported
                      : SerialError::Other,
            static_cast<unsigned long>(error), QString::fromLocal8Bit(std::strerror(error))};
}

} // namespace

SerialError SerialDevice::Native::failed(int error) {
    const SerialError failure = callFailure(error);
    if (failure.kind == SerialError::Lost) {
        lost = failure;
        readable->setEnabled(false);
        writable->setEnabled(false);
    }
    return failure;
}

QString SerialDevice::locationOf(int port) {
    const QByteArray named = qgetenv(QByteArray("CARNOVO_COM") + QByteArray::number(port));
    if (!named.isEmpty())
        return QString::fromLocal8Bit(named);
    return comPortOrder(presentPorts()).value(port - 1).location;
}

SerialDevice::Opened SerialDevice::open(int port, const QString& location) {
    Opened opened;
    const auto fail = [&](const SerialError& error) {
        qCDebug(serialTrace) << "open" << location << "failed:" << error.description;
        opened.error = error;
        return std::move(opened);
    };
    if (location.isEmpty())
        return fail(
            refusal(SerialError::NoSuchDevice, ENOENT, openFailureText(port, location, ENOENT)));

    auto native = std::make_unique<Native>();
    native->lock = std::make_unique<PortLock>();
    const PortLock::Finding lock = native->lock->acquire(location);
    const QString lockFile = native->lock->path(location);
    if (lock.kind == PortLock::Finding::Held)
        return fail(
            refusal(SerialError::Busy, EBUSY,
                    lockedText(port, location, PortLock::describeProcess(lock.holder), lockFile)));
    if (lock.kind == PortLock::Finding::Untrusted)
        return fail(refusal(SerialError::Other, EEXIST,
                            lockRefusedText(port, location, lockFile, lock.what)));

    const int fd =
        ::open(QFile::encodeName(location).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        return fail(refusal(openFailureKind(error), error, openFailureText(port, location, error)));
    }
    // Other programs stay out while the port is ours; then the line, raw.
    W32Comms::DCB dcb{};
    bool ready = ioctl(fd, TIOCEXCL) == 0 && ioctl(fd, kReadLine, &native->found) == 0 &&
                 W32Comms::GetCommState(fd, dcb);
    if (ready) {
        using namespace W32Comms;
        dcb.BaudRate = 9600;
        dcb.fBinary = 1;
        dcb.fParity = dcb.fOutxCtsFlow = dcb.fOutX = dcb.fInX = 0;
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        ready = W32Comms::SetCommState(fd, dcb);
    }
    if (!ready) {
        const int error = errno;
        ::close(fd);
        return fail(refusal(openFailureKind(error), error, openFailureText(port, location, error)));
    }
    // Bytes that reached the device while it was closed belong to nobody.
    tty::discard(fd);
    native->fd = fd;
    native->lowLatency = tty::requestLowLatency(fd);
    qCDebug(serialTrace) << "open" << location << "as descriptor" << fd
                         << (native->lowLatency ? "with low latency" : "");
    opened.device.reset(new SerialDevice(std::move(native)));
    return opened;
}

SerialDevice::SerialDevice(std::unique_ptr<Native> native) : native_(std::move(native)) {
    // Not children of the device: it may be destroyed from inside their
    // signals, so they go once those have returned (see the destructor).
    native_->readable = new QSocketNotifier(native_->fd, QSocketNotifier::Read);
    native_->writable = new QSocketNotifier(native_->fd, QSocketNotifier::Write);
    native_->readable->setEnabled(false);
    native_->writable->setEnabled(false);
    connect(native_->readable, &QSocketNotifier::activated, this, [this] {
        // A hung-up line stays readable: that is the device gone, not data.
        if (tty::gone(native_->fd)) {
            emit lost(native_->failed(tty::kHungUp));
            return;
        }
        emit readable();
    });
    connect(native_->writable, &QSocketNotifier::activated, this, [this] { emit writable(); });
}

SerialDevice::~SerialDevice() {
    for (QSocketNotifier* notifier : {native_->readable.data(), native_->writable.data()}) {
        notifier->setEnabled(false);
        notifier->deleteLater();
    }
    const int fd = native_->fd;
    (void)ioctl(fd, kWriteLine, &native_->found);
    if (native_->lowLatency)
        tty::endLowLatency(fd);
    (void)ioctl(fd, TIOCNXCL);
    ::close(fd);
    qCDebug(serialTrace) << "closed descriptor" << fd;
}

W32Comms::HANDLE SerialDevice::handle() const {
    return native_->fd;
}

SerialError SerialDevice::state(W32Comms::DCB& dcb) const {
    if (native_->lost)
        return native_->lost;
    return W32Comms::GetCommState(native_->fd, dcb) ? SerialError{} : native_->failed(errno);
}

SerialError SerialDevice::setState(const W32Comms::DCB& dcb) {
    if (native_->lost)
        return native_->lost;
    return W32Comms::SetCommState(native_->fd, dcb) ? SerialError{} : native_->failed(errno);
}

SerialError SerialDevice::bytesWaiting(qint64& count) {
    count = 0;
    if (native_->lost)
        return native_->lost;
    int waiting = 0;
    const int error =
        tty::gone(native_->fd) ? tty::kHungUp : tty::bytesWaiting(native_->fd, waiting);
    if (error)
        return native_->failed(error);
    count = waiting;
    return {};
}

SerialError SerialDevice::read(QByteArray& into) {
    if (native_->lost)
        return native_->lost;
    const qsizetype before = into.size();
    const int error = tty::readWaiting(native_->fd, into);
    qCDebug(serialTrace) << "read" << into.size() - before << "bytes";
    return error ? native_->failed(error) : SerialError{};
}

SerialError SerialDevice::write(QByteArray& bytes) {
    if (native_->lost)
        return native_->lost;
    const qsizetype before = bytes.size();
    const int error = tty::writeSome(native_->fd, bytes);
    qCDebug(serialTrace) << "wrote" << before - bytes.size() << "of" << before << "bytes";
    return error ? native_->failed(error) : SerialError{};
}

void SerialDevice::discard() {
    tty::discard(native_->fd);
}

void SerialDevice::notifyReadable(bool on) {
    native_->readable->setEnabled(on && !native_->lost);
}

void SerialDevice::notifyWritable(bool on) {
    native_->writable->setEnabled(on && !native_->lost);
}

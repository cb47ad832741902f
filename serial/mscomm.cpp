// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/mscomm.h"

#include "serial/open_refusal.h"
#include "serial/port_names.h"
#include "serial/tty_tuning.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <utility>

namespace {
constexpr int kFirstPort = 1;
constexpr int kLastPort = 4;
// The longest the control goes without looking at an open line that
// someone waits on, so that a lost device is noticed in time.
constexpr int kLookMs = 100;
// A USB adapter hands bytes over once a frame.
constexpr double kUsbFrameMs = 1;
// Later than this, bytes are not an answer the far end is always late with.
constexpr double kMaxLateMs = 30;
} // namespace

MSComm::MSComm(QObject* parent) : QObject(parent) {
    setObjectName(Name());
    lookAgain_.setSingleShot(true);
    lookAgain_.setTimerType(Qt::PreciseTimer);
    connect(&lookAgain_, &QTimer::timeout, this, [this] { look(Woken::ByTimer); });
}

MSComm::~MSComm() {
    closeDevice();
}

QString MSComm::deviceForPort(int port) {
    const QByteArray override = qgetenv(QByteArray("CARNOVO_COM") + QByteArray::number(port));
    if (!override.isEmpty())
        return QString::fromLocal8Bit(override);
    return comPortOrder(presentPorts()).value(port - 1).location;
}

RaisedError MSComm::error(int number, const QString& description) const {
    return RaisedError(number, Name(), description);
}

void MSComm::setCommPort(int port) {
    if (port < kFirstPort || port > kLastPort)
        throw error(InvalidPortNumber,
                    QStringLiteral("Invalid port number %1: choose COM 1 to COM 4").arg(port));
    if (PortOpen())
        throw error(PortAlreadyOpen, QStringLiteral("Port already open: close COM %1 before "
                                                    "choosing another port")
                                         .arg(commPort_));
    commPort_ = port;
}

void MSComm::refuse(int fd, int number, const QString& description) {
    if (fd >= 0)
        ::close(fd);
    lock_.release();
    throw error(number, description);
}

void MSComm::setPortOpen(bool open) {
    if (!open)
        return closeDevice();
    if (PortOpen())
        throw error(PortAlreadyOpen, QStringLiteral("Port already open: COM %1").arg(commPort_));
    const QString device = deviceForPort(commPort_);
    if (device.isEmpty())
        throw error(NoDevice, openFailureText(commPort_, device, ENOENT));
    device_ = device;
    lostReason_.reset();
    if (const pid_t holder = lock_.acquire(device))
        refuse(
            -1, OpenFailed,
            lockedText(commPort_, device, PortLock::describeProcess(holder), lock_.path(device)));

    const int fd =
        ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        refuse(fd, OpenFailed, openFailureText(commPort_, device, errno));
    // Other programs stay out while the port is ours; then the design-time
    // line, 9600 8N1, raw.
    W32Comms::DCB dcb{};
    if (ioctl(fd, TIOCEXCL) != 0 || !W32Comms::GetCommState(fd, dcb))
        refuse(fd, OpenFailed, openFailureText(commPort_, device, errno));
    dcb.BaudRate = 9600;
    dcb.fBinary = 1;
    dcb.fParity = dcb.fOutxCtsFlow = dcb.fOutX = dcb.fInX = 0;
    dcb.fRtsControl = W32Comms::RTS_CONTROL_ENABLE;
    dcb.ByteSize = 8;
    dcb.Parity = W32Comms::NOPARITY;
    dcb.StopBits = W32Comms::ONESTOPBIT;
    if (!W32Comms::SetCommState(fd, dcb))
        refuse(fd, OpenFailed, openFailureText(commPort_, device, errno));

    // A freshly opened port holds nothing: bytes that reached the device
    // while it was closed belong to nobody.
    tty::discard(fd);
    lowLatencySet_ = tty::requestLowLatency(fd);
    fd_ = fd;
    received_.clear();
    sinceOutput_.invalidate();
    signalled_ = bunched_ = false;
    lateMs_ = 0;
    readable_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(readable_, &QSocketNotifier::activated, this, [this] { look(Woken::ByLine); });
    lineChanged();
    plan();
}

void MSComm::closeDevice() {
    if (!PortOpen())
        return;
    lookAgain_.stop();
    // Possibly from inside its own signal: it goes once that has returned.
    readable_->setEnabled(false);
    readable_->deleteLater();
    if (lowLatencySet_)
        tty::endLowLatency(fd_);
    (void)ioctl(fd_, TIOCNXCL);
    ::close(fd_);
    fd_ = -1;
    lock_.release();
}

void MSComm::lineChanged() {
    W32Comms::DCB dcb{};
    if (PortOpen() && W32Comms::GetCommState(fd_, dcb) && dcb.BaudRate > 0) {
        const int bits = 1 + dcb.ByteSize + (dcb.Parity != W32Comms::NOPARITY) +
                         (dcb.StopBits == W32Comms::ONESTOPBIT ? 1 : 2);
        byteMs_ = bits * 1000.0 / dcb.BaudRate;
    }
}

void MSComm::setRThreshold(int bytes) {
    if (bytes == rThreshold_)
        return;
    rThreshold_ = bytes;
    signalled_ = false;
    plan();
}

// The receive event without a wake-up per byte: the line does not rewrite
// the driver's read threshold (on a USB adapter every such write is a
// transfer on the very line being read), so the control itself stays deaf
// until the bytes asked for can have crossed the line: not before the last
// of them could follow the last write, plus the delay the far end took last
// time, nor (on a line that delivers bytes as they come) before it could
// follow the bytes already here. Then it looks; bytes still missing, it takes
// those that came and waits again for the rest. A look that found nothing
// new listens instead: the far end paused, or an adapter holds the bytes.
void MSComm::plan(qint64 inDriver, Woken by, bool stalled) {
    if (!PortOpen())
        return;
    const qint64 wanted = std::max(rThreshold_, 1);
    const qint64 waiting = received_.size() + inDriver;
    const double sinceOutputMs =
        sinceOutput_.isValid() ? double(sinceOutput_.nsecsElapsed()) / 1e6 : 0;
    const double lastDueMs = double(takenSinceOutput_ + wanted - 1) * byteMs_;
    if (waiting >= wanted) {
        // Slow to wait longer (bunches come late by chance), quick to
        // believe an earlier answer; a timed look that found everything
        // here came too late, by an unknown time.
        const double late = std::max(sinceOutputMs - lastDueMs, 0.0);
        if (by == Woken::ByLine && late <= kMaxLateMs)
            lateMs_ = late < lateMs_ ? late : lateMs_ + (late - lateMs_) / 8;
        else if (by == Woken::ByTimer && sinceOutput_.isValid())
            lateMs_ = std::max(std::min(lateMs_, late) - byteMs_ - kUsbFrameMs, 0.0);
        readable_->setEnabled(false);
        lookAgain_.stop();
        if (!std::exchange(signalled_, true))
            emit OnComm();
        return;
    }
    double quietMs = sinceOutput_.isValid() ? lastDueMs + lateMs_ - byteMs_ - sinceOutputMs : 0;
    if (!bunched_ && !stalled)
        quietMs = std::max(quietMs, double(wanted - waiting - 1) * byteMs_ - kUsbFrameMs);
    const bool deaf = quietMs >= 0.5;
    readable_->setEnabled(!deaf);
    lookAgain_.start(deaf ? std::min(int(std::ceil(quietMs)), kLookMs) : kLookMs);
}

// The device is gone when the line reports a hang-up or an error, when a
// call fails as on a vanished device, or when a read after the line said
// readable finds its end: whatever the toolkit makes of such a line.
void MSComm::look(Woken by) {
    if (!PortOpen())
        return;
    if (tty::hungUp(fd_))
        return lose(tty::kHungUp);
    int failure = 0;
    const int inDriver = tty::bytesWaiting(fd_, failure);
    if (failure)
        return lose(failure);
    // Several bytes at once on a line listened to: they come in bunches, and
    // more may be held back however few are here.
    bunched_ = bunched_ || (by == Woken::ByLine && inDriver >= 3);
    if (received_.size() + inDriver >= std::max(rThreshold_, 1))
        return plan(inDriver, by);
    // Too few: take them, so that listening waits for new ones.
    const QByteArray bytes = tty::readWaiting(fd_, failure);
    received_ += bytes;
    if (failure)
        return lose(failure);
    plan(0, by, bytes.isEmpty());
}

void MSComm::lose(int failure) {
    lostReason_ = failure == tty::kHungUp || failure == EIO || failure == ENXIO || failure == ENODEV
                      ? QStringLiteral("the device was unplugged or hung up")
                      : QString::fromLocal8Bit(std::strerror(failure));
    // Let go of the device at once, so that an adapter plugged in again gets its old name.
    closeDevice();
    emit OnComm();
}

void MSComm::throwIfLost() {
    if (lostReason_) {
        const QString reason = *std::exchange(lostReason_, std::nullopt);
        throw error(PortLost, QStringLiteral("Lost the connection to COM %1 (%2): %3")
                                  .arg(commPort_)
                                  .arg(device_, reason));
    }
    if (!PortOpen())
        throw error(PortNotOpen, QStringLiteral("Operation valid only when the port is open"));
}

void MSComm::Output(const QByteArray& bytes) {
    throwIfLost();
    if (const int failure = tty::writeAll(fd_, bytes)) {
        lose(failure);
        throwIfLost();
    }
    sinceOutput_.start();
    takenSinceOutput_ = 0;
    plan();
}

QByteArray MSComm::Input() {
    throwIfLost();
    int failure = 0;
    received_ += tty::readWaiting(fd_, failure);
    if (failure) {
        lose(failure);
        throwIfLost();
    }
    const QByteArray bytes = inputLen_ > 0 ? received_.left(inputLen_) : received_;
    if (bytes.isEmpty())
        return bytes;
    received_.remove(0, bytes.size());
    takenSinceOutput_ += bytes.size();
    signalled_ = false;
    plan();
    return bytes;
}

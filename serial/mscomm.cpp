// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/mscomm.h"

#include "serial/open_refusal.h"
#include "serial/port_names.h"
#include "serial/tty_io.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace {
constexpr int kFirstPort = 1;
constexpr int kLastPort = 4;
// As long as the ECM may take to answer: a device that takes no byte for
// that long cannot be talked to.
constexpr int kNothingTakenMs = 2000;
} // namespace

MSComm::MSComm(QObject* parent) : QObject(parent) {
    setObjectName(Name());
    lookAgain_.setSingleShot(true);
    lookAgain_.setTimerType(Qt::PreciseTimer);
    connect(&lookAgain_, &QTimer::timeout, this, [this] { look(Pacer::Woken::ByTimer); });
    nothingTaken_.setSingleShot(true);
    connect(&nothingTaken_, &QTimer::timeout, this, [this] { lose(ETIMEDOUT); });
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

void MSComm::setPortOpen(bool open) {
    if (!open)
        return closeDevice();
    if (PortOpen())
        throw error(PortAlreadyOpen, QStringLiteral("Port already open: COM %1").arg(commPort_));
    const QString path = deviceForPort(commPort_);
    if (path.isEmpty())
        throw error(NoDevice, openFailureText(commPort_, path, ENOENT));
    devicePath_ = path;
    lostReason_.reset();
    TtyDevice::Opened opened = TtyDevice::open(path);
    switch (opened.lock.kind) {
    case PortLock::Finding::Held:
        throw error(OpenFailed,
                    lockedText(commPort_, path, PortLock::describeProcess(opened.lock.holder),
                               opened.lockFile));
    case PortLock::Finding::Untrusted:
        throw error(OpenFailed,
                    lockRefusedText(commPort_, path, opened.lockFile, opened.lock.what));
    case PortLock::Finding::Ours:
        break;
    }
    if (!opened.device)
        throw error(OpenFailed, openFailureText(commPort_, path, opened.error));

    device_ = std::move(opened.device);
    received_.clear();
    unsent_.clear();
    sinceOutput_.invalidate();
    signalled_ = bunched_ = false;
    pacer_.forget();
    readable_ = new QSocketNotifier(device_->fd(), QSocketNotifier::Read, this);
    connect(readable_, &QSocketNotifier::activated, this, [this] { look(Pacer::Woken::ByLine); });
    writable_ = new QSocketNotifier(device_->fd(), QSocketNotifier::Write, this);
    writable_->setEnabled(false);
    connect(writable_, &QSocketNotifier::activated, this, [this] { sendWhatTheLineTakes(); });
    lineChanged();
    follow(lineNow());
}

void MSComm::closeDevice() {
    if (!PortOpen())
        return;
    lookAgain_.stop();
    nothingTaken_.stop();
    // Possibly from inside their own signals: they go once those have returned.
    for (QSocketNotifier* notifier : {readable_.data(), writable_.data()}) {
        notifier->setEnabled(false);
        notifier->deleteLater();
    }
    device_.reset();
}

void MSComm::lineChanged() {
    W32Comms::DCB dcb{};
    if (PortOpen() && W32Comms::GetCommState(device_->fd(), dcb) && dcb.BaudRate > 0) {
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
    if (PortOpen())
        follow(lineNow());
}

Pacer::Line MSComm::lineNow() const {
    Pacer::Line line;
    line.waiting = received_.size();
    line.wanted = std::max(rThreshold_, 1);
    if (sinceOutput_.isValid())
        line.sinceOutputMs = double(sinceOutput_.nsecsElapsed()) / 1e6;
    line.takenSinceOutput = takenSinceOutput_;
    line.byteMs = byteMs_;
    line.bunched = bunched_;
    return line;
}

// The receive event without a wake-up per byte: see Pacer.
void MSComm::follow(const Pacer::Line& line) {
    const Pacer::Plan plan = pacer_.plan(line);
    readable_->setEnabled(plan.listen);
    if (!plan.ready)
        return lookAgain_.start(plan.lookInMs);
    lookAgain_.stop();
    if (!std::exchange(signalled_, true))
        emit OnComm();
}

// The device is gone when the line reports a hang-up or an error, when a
// call fails as on a vanished device, or when a read after the line said
// readable finds its end: whatever the toolkit makes of such a line.
void MSComm::look(Pacer::Woken by) {
    if (!PortOpen())
        return;
    if (tty::gone(device_->fd()))
        return lose(tty::kHungUp);
    int inDriver = 0;
    if (const int failure = tty::bytesWaiting(device_->fd(), inDriver))
        return lose(failure);
    // Several bytes at once on a line listened to: they come in bunches, and
    // more may be held back however few are here.
    bunched_ = bunched_ || (by == Pacer::Woken::ByLine && inDriver >= 3);
    Pacer::Line line = lineNow();
    line.by = by;
    if (received_.size() + inDriver < line.wanted) {
        // Too few: take them, so that listening waits for new ones.
        const qsizetype before = received_.size();
        if (const int failure = tty::readWaiting(device_->fd(), received_))
            return lose(failure);
        line.waiting = received_.size();
        line.stalled = received_.size() == before;
    } else {
        line.waiting += inDriver;
    }
    follow(line);
}

// Sends what the device takes now; the rest when it has room again.
void MSComm::sendWhatTheLineTakes() {
    if (!PortOpen())
        return;
    const qsizetype before = unsent_.size();
    if (const int failure = tty::writeSome(device_->fd(), unsent_))
        return lose(failure);
    writable_->setEnabled(!unsent_.isEmpty());
    if (unsent_.isEmpty())
        nothingTaken_.stop();
    else if (unsent_.size() < before || !nothingTaken_.isActive())
        nothingTaken_.start(kNothingTakenMs);
}

void MSComm::lose(int failure) {
    lostReason_ = failure == tty::kHungUp || failure == EIO || failure == ENXIO || failure == ENODEV
                      ? QStringLiteral("the device was unplugged or hung up")
                  : failure == ETIMEDOUT
                      ? QStringLiteral("the device took nothing sent to it for %1 s")
                            .arg(kNothingTakenMs / 1000)
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
                                  .arg(devicePath_, reason));
    }
    if (!PortOpen())
        throw error(PortNotOpen, QStringLiteral("Operation valid only when the port is open"));
}

void MSComm::Output(const QByteArray& bytes) {
    throwIfLost();
    unsent_ += bytes;
    sendWhatTheLineTakes();
    throwIfLost();
    sinceOutput_.start();
    takenSinceOutput_ = 0;
    follow(lineNow());
}

QByteArray MSComm::Input() {
    throwIfLost();
    if (const int failure = tty::readWaiting(device_->fd(), received_)) {
        lose(failure);
        throwIfLost();
    }
    const QByteArray bytes = inputLen_ > 0 ? received_.left(inputLen_) : received_;
    if (bytes.isEmpty())
        return bytes;
    received_.remove(0, bytes.size());
    takenSinceOutput_ += bytes.size();
    signalled_ = false;
    follow(lineNow());
    return bytes;
}

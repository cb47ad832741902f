// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/mscomm.h"

#include <algorithm>
#include <utility>

namespace {
// As long as the ECM may take to answer: a device that takes no byte for
// that long cannot be talked to.
constexpr int kNothingTakenMs = 2000;
} // namespace

MSComm::MSComm(QObject* parent) : QObject(parent) {
    setObjectName(Name());
    checkAgain_.setSingleShot(true);
    checkAgain_.setTimerType(Qt::PreciseTimer);
    connect(&checkAgain_, &QTimer::timeout, this, [this] {
        qCDebug(serialTrace) << "woken: timer";
        checkLine(Pacer::Woken::ByTimer);
    });
    nothingTaken_.setSingleShot(true);
    connect(&nothingTaken_, &QTimer::timeout, this, [this] {
        lose(QStringLiteral("the device took nothing sent to it for %1 s")
                 .arg(kNothingTakenMs / 1000));
    });
}

MSComm::~MSComm() {
    closeDevice();
}

RaisedError MSComm::error(int number, const QString& description) const {
    return RaisedError(number, Name(), description);
}

void MSComm::setCommPort(int port) {
    if (port < kFirstComPort || port > kLastComPort)
        throw error(InvalidPortNumber, QStringLiteral("Invalid port number %1: choose COM %2 to "
                                                      "COM %3")
                                           .arg(port)
                                           .arg(kFirstComPort)
                                           .arg(kLastComPort));
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
    const QString location = SerialDevice::locationOf(commPort_);
    devicePath_ = location;
    lostReason_.reset();
    SerialDevice::Opened opened = SerialDevice::open(commPort_, location);
    if (!opened.device)
        throw error(location.isEmpty() ? NoDevice : OpenFailed, opened.error.description);

    device_ = std::move(opened.device);
    received_.clear();
    unsent_.clear();
    sinceOutput_.invalidate();
    signalled_ = bunched_ = false;
    pacer_.forget();
    connect(device_.get(), &SerialDevice::readable, this, [this] {
        qCDebug(serialTrace) << "woken: readable";
        checkLine(Pacer::Woken::ByLine);
    });
    connect(device_.get(), &SerialDevice::writable, this, [this] {
        qCDebug(serialTrace) << "woken: writable";
        sendWhatTheLineTakes();
    });
    connect(device_.get(), &SerialDevice::lost, this, [this](const SerialError& why) {
        qCDebug(serialTrace) << "woken: lost";
        lose(why);
    });
    lineChanged();
    follow(lineNow());
}

void MSComm::closeDevice() {
    if (!PortOpen())
        return;
    checkAgain_.stop();
    nothingTaken_.stop();
    device_.reset();
}

void MSComm::lineChanged() {
    using namespace W32Comms;
    DCB dcb{};
    if (PortOpen() && !device_->state(dcb) && dcb.BaudRate > 0) {
        const int bits =
            1 + dcb.ByteSize + (dcb.Parity != NOPARITY) + (dcb.StopBits == ONESTOPBIT ? 1 : 2);
        byteMs_ = bits * 1000.0 / dcb.BaudRate;
        qCDebug(serialTrace).nospace() << "line: " << dcb.BaudRate << " baud " << int(dcb.ByteSize)
                                       << (dcb.Parity <= SPACEPARITY ? "NOEMS"[dcb.Parity] : '?')
                                       << (dcb.StopBits == ONESTOPBIT    ? "1"
                                           : dcb.StopBits == TWOSTOPBITS ? "2"
                                                                         : "1.5");
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

Pacer::PortState MSComm::lineNow() const {
    Pacer::PortState line;
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
void MSComm::follow(const Pacer::PortState& line) {
    const Pacer::Plan plan = pacer_.plan(line);
    device_->notifyReadable(plan.listen);
    if (!plan.ready)
        return checkAgain_.start(plan.lookInMs);
    checkAgain_.stop();
    if (!std::exchange(signalled_, true))
        emit OnComm();
}

// The device is gone when the line reports a hang-up or an error, when a
// call fails as on a vanished device, or when a read after the line said
// readable finds its end: whatever the toolkit makes of such a line.
void MSComm::checkLine(Pacer::Woken by) {
    if (!PortOpen())
        return;
    qint64 inDriver = 0;
    if (const SerialError failure = device_->bytesWaiting(inDriver))
        return lose(failure);
    // Several bytes at once where we woke on the first: the adapter hands
    // bytes over in batches (as USB adapters do), and more may be held back
    // however few are here.
    bunched_ = bunched_ || (by == Pacer::Woken::ByLine && inDriver >= 3);
    Pacer::PortState line = lineNow();
    line.by = by;
    if (received_.size() + inDriver < line.wanted) {
        // Too few: take them, so that listening waits for new ones.
        const qsizetype before = received_.size();
        if (const SerialError failure = device_->read(received_))
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
    if (const SerialError failure = device_->write(unsent_))
        return lose(failure);
    device_->notifyWritable(!unsent_.isEmpty());
    if (unsent_.isEmpty())
        nothingTaken_.stop();
    else if (unsent_.size() < before || !nothingTaken_.isActive())
        nothingTaken_.start(kNothingTakenMs);
}

void MSComm::lose(const SerialError& why) {
    lose(why.kind == SerialError::Lost ? QStringLiteral("the device was unplugged or hung up")
                                       : why.description);
}

void MSComm::lose(const QString& reason) {
    qCDebug(serialTrace) << "lost:" << reason;
    lostReason_ = reason;
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
    requirePortOpen(*this);
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
    if (const SerialError failure = device_->read(received_)) {
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

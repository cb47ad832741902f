#include "serial/mscomm.h"

#include "serial/open_refusal.h"
#include "serial/port_names.h"
#include "serial/tty_tuning.h"

#include <QMetaObject>
#include <QSocketNotifier>
#include <algorithm>
#include <cstring>

namespace {
constexpr int kFirstPort = 1;
constexpr int kLastPort = 4;
} // namespace

MSComm::MSComm(QObject* parent) : QObject(parent) {
    setObjectName(Name());
    port_.setBaudRate(9600);
    port_.setParity(QSerialPort::NoParity);
    port_.setDataBits(QSerialPort::Data8);
    port_.setStopBits(QSerialPort::OneStop);
    port_.setFlowControl(QSerialPort::NoFlowControl);
    port_.setReadBufferSize(InBufferSize());
    connect(&port_, &QSerialPort::errorOccurred, this, &MSComm::onPortError);
    connect(&port_, &QSerialPort::readyRead, this, &MSComm::OnComm);
    deafUntilDue_.setSingleShot(true);
    deafUntilDue_.setTimerType(Qt::PreciseTimer);
    connect(&deafUntilDue_, &QTimer::timeout, this, &MSComm::listenForThreshold);
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
    if (!open) {
        port_.close();
        return;
    }
    if (PortOpen())
        throw error(PortAlreadyOpen, QStringLiteral("Port already open: COM %1").arg(commPort_));
    const QString device = deviceForPort(commPort_);
    if (device.isEmpty())
        throw error(NoDevice,
                    openFailureText(commPort_, device, QSerialPort::DeviceNotFoundError, {}));
    device_ = device;
    port_.setPortName(device);
    lostReason_.reset();
    if (!port_.open(QIODevice::ReadWrite)) {
        const QSerialPort::SerialPortError kind = port_.error();
        const QString reason = port_.errorString();
        port_.close();
        throw error(OpenFailed, openFailureText(commPort_, device, kind, reason));
    }
    // A freshly opened port holds nothing: bytes that reached the device
    // while it was closed belong to nobody.
    port_.clear(QSerialPort::AllDirections);
    received_.clear();
    sinceOutput_.invalidate();
    tty::requestLowLatency(port_.handle());
    setRThreshold(rThreshold_);
}

void MSComm::setRThreshold(int bytes) {
    rThreshold_ = bytes;
    if (!PortOpen())
        return;
    tty::setReadThreshold(port_.handle(), bytes);
    listenForThreshold();
}

// The driver holds bytes back below the threshold, but a line that hands
// them over one by one (a pseudo-terminal, a USB adapter at low latency)
// still wakes every listener once a byte. Until the bytes asked for can have
// crossed the line, the control does not listen at all: not before the last
// of them could follow the bytes already here, less a USB frame, nor
// before it could follow the last write.
void MSComm::listenForThreshold() {
    QSocketNotifier* notifier = nullptr;
    for (auto* candidate : port_.findChildren<QSocketNotifier*>())
        if (candidate->type() == QSocketNotifier::Read)
            notifier = candidate;
    if (!notifier || !PortOpen())
        return;
    constexpr double kUsbFrameMs = 1;
    const int fd = port_.handle();
    const double byteMs = tty::byteMs(fd);
    const qint64 waiting = received_.size() + port_.bytesAvailable() + tty::bytesWaiting(fd);
    const double afterWaiting = (rThreshold_ - waiting - 1) * byteMs - kUsbFrameMs;
    const double afterOutput =
        sinceOutput_.isValid()
            ? (takenSinceOutput_ + rThreshold_ - 1) * byteMs - double(sinceOutput_.elapsed())
            : 0;
    const int quietMs = waiting >= rThreshold_ ? 0 : int(std::max(afterWaiting, afterOutput));
    notifier->setEnabled(quietMs <= 0);
    if (quietMs > 0)
        deafUntilDue_.start(quietMs);
    else
        deafUntilDue_.stop();
}

void MSComm::onPortError(QSerialPort::SerialPortError err) {
    const bool fatal = err == QSerialPort::ReadError || err == QSerialPort::WriteError ||
                       err == QSerialPort::ResourceError;
    if (!fatal || lostReason_ || !PortOpen())
        return;
    // A vanished device makes the port report errors without pause, so it is
    // closed at once; not from inside its own signal, though.
    lostReason_ = port_.errorString();
    QMetaObject::invokeMethod(
        this, [this] { port_.close(); }, Qt::QueuedConnection);
}

void MSComm::throwIfLost() {
    if (lostReason_) {
        port_.close();
        const QString reason = *lostReason_;
        lostReason_.reset();
        throw error(PortLost, QStringLiteral("Lost the connection to COM %1 (%2): %3")
                                  .arg(commPort_)
                                  .arg(device_, reason));
    }
    if (!PortOpen())
        throw error(PortNotOpen, QStringLiteral("Operation valid only when the port is open"));
}

void MSComm::Output(const QByteArray& bytes) {
    throwIfLost();
    port_.write(bytes);
    port_.flush();
    sinceOutput_.start();
    takenSinceOutput_ = 0;
}

QByteArray MSComm::Input() {
    throwIfLost();
    // Bytes below the threshold are still with the driver: take them too.
    int failure = 0;
    received_ += port_.readAll();
    received_ += tty::readWaiting(port_.handle(), failure);
    if (failure && !lostReason_)
        lostReason_ = QString::fromLocal8Bit(std::strerror(failure));
    throwIfLost();
    const QByteArray bytes = inputLen_ > 0 ? received_.left(inputLen_) : received_;
    received_.remove(0, bytes.size());
    takenSinceOutput_ += bytes.size();
    return bytes;
}

W32Comms::HANDLE MSComm::CommID() const {
    return PortOpen() ? static_cast<W32Comms::HANDLE>(port_.handle()) : -1;
}

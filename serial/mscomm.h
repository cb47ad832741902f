// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "common/raised_error.h"
#include "serial/comm_control.h"
#include "serial/pacer.h"
#include "serial/serial_device.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <memory>
#include <optional>

// The window's serial control: opens COM 1 to COM 4 by number and moves raw
// bytes. Every byte value passes unchanged in both directions.
//
// COM n is the device the environment variable CARNOVO_COM{n} names (a USB
// cable, a pseudo-terminal), else the system's own (SerialDevice::locationOf).
//
// The control's face: it combines the open device (SerialDevice) with the pacer
// that spares the program a wake-up per byte, and words its own errors
// (numbers 80xx) so that they name the device and say what to do. It writes
// the line settings only when opening and through SetBaudRate, never blocks
// on the device, and notices by itself when the device goes away.
class MSComm : public QObject, public CommControl {
    Q_OBJECT
public:
    explicit MSComm(QObject* parent = nullptr);
    ~MSComm() override;

    QString Name() const override { return QStringLiteral("mscomm32"); }

    int CommPort() const { return commPort_; }
    void setCommPort(int port);

    int InputLen() const { return inputLen_; }
    void setInputLen(int length) { inputLen_ = length; }

    bool PortOpen() const override { return device_ != nullptr; }
    void setPortOpen(bool open);

    // Bytes that must be waiting before the control raises OnComm; 0 or 1: any.
    // It also fires once the device is lost; the next Input or Output tells.
    int RThreshold() const { return rThreshold_; }
    void setRThreshold(int bytes);

    // Queues the bytes; they go out as the device takes them. A device that
    // takes nothing for as long as a reply may take is lost.
    void Output(const QByteArray& bytes);
    // Everything received so far (at most InputLen bytes when that is not 0),
    // also below the threshold, possibly nothing. Never blocks.
    QByteArray Input();

    W32Comms::HANDLE CommID() const override {
        return device_ ? device_->handle() : W32Comms::HANDLE(-1);
    }
    void lineChanged() override;

    // Design-time settings, in force whenever the port is opened.
    int InBufferSize() const { return 1024; }
    int OutBufferSize() const { return 512; }
    QString Settings() const { return QStringLiteral("9600,n,8,1"); }
    QChar ParityReplace() const { return QLatin1Char('?'); }

    // The device behind a port number; empty when there is none.
    static QString deviceForPort(int port) { return SerialDevice::locationOf(port); }

signals:
    // The receive event: at least RThreshold bytes are waiting.
    void OnComm();

private:
    void closeDevice();
    void checkLine(Pacer::Woken by);
    // The line as the pacer sees it now, and what the control does about it.
    Pacer::PortState lineNow() const;
    void follow(const Pacer::PortState& line);
    void sendWhatTheLineTakes();
    void lose(const SerialError& why);
    void lose(const QString& reason);
    void throwIfLost();
    RaisedError error(int number, const QString& description) const;

    std::unique_ptr<SerialDevice> device_;
    QTimer checkAgain_;
    QTimer nothingTaken_;
    Pacer pacer_;
    double byteMs_ = 0;
    int commPort_ = 1;
    int inputLen_ = 0;
    int rThreshold_ = 0;
    bool signalled_ = false;
    bool bunched_ = false;
    QElapsedTimer sinceOutput_;
    qint64 takenSinceOutput_ = 0;
    QByteArray received_;
    QByteArray unsent_;
    QString devicePath_; // the one opened last, named when it is lost
    std::optional<QString> lostReason_;
};

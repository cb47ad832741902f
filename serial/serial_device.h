// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "serial/w32comms.h"

#include <QByteArray>
#include <QLoggingCategory>
#include <QObject>
#include <QString>
#include <memory>

// What the trace says about every open, setting, read, write and wake-up of a
// serial device: QT_LOGGING_RULES="carnovo.serial.debug=true".
Q_DECLARE_LOGGING_CATEGORY(serialTrace)

// Why a device call failed, in the same words on every system. The native
// code (an errno, a Win32 error) is kept only for the trace and the text.
struct SerialError {
    enum Kind {
        None,
        NoSuchDevice,     // nothing at that name, or it went away before opening
        PermissionDenied, // the user may not open it
        Busy,             // another program holds it (its exclusive open or lock file)
        Unsupported,      // the driver refuses a setting
        Lost,             // unplugged or hung up while open
        Other,
    } kind = None;
    unsigned long nativeCode = 0;
    QString description; // for the user, worded for this system

    explicit operator bool() const { return kind != None; }
};

// One open serial port, held alone, behind an interface that is the same on
// every system; serial_device_linux.cpp and serial_device_windows.cpp
// implement it, and CMake builds the one for the target. It opens raw at
// 9600 baud, 8 data bits, no parity, 1 stop bit, with the driver's buffers
// empty, and puts the line settings back as it found them when destroyed.
//
// Nothing blocks: reads hand over what is waiting, writes take what the
// driver takes now. Whether the device is readable, writable or lost reaches
// the owner as a signal from the event loop, only while asked for.
class SerialDevice : public QObject {
    Q_OBJECT
public:
    struct Opened {
        std::unique_ptr<SerialDevice> device;
        SerialError error; // when device is empty
    };

    // Where COM `port` is on this machine: CARNOVO_COM{port} when set, else
    // the system's own choice (the n-th port present on Linux, \\.\COMn on
    // Windows). Empty when there is none.
    static QString locationOf(int port);
    // Opens COM `port` at `location`; a failure's description names both and
    // says what the user can do.
    static Opened open(int port, const QString& location);

    ~SerialDevice() override;

    // The handle the system's line-state calls (W32Comms) take.
    W32Comms::HANDLE handle() const;

    // The line settings through the device-control block. On failure the
    // error says why; a failure that means the device is gone is Lost.
    SerialError state(W32Comms::DCB& dcb) const;
    SerialError setState(const W32Comms::DCB& dcb);

    // Bytes received and not yet read.
    SerialError bytesWaiting(qint64& count);
    // Appends every byte waiting to `into`.
    SerialError read(QByteArray& into);
    // Sends what the driver takes now of `bytes` and removes it from them.
    SerialError write(QByteArray& bytes);
    // Throws away what the driver holds in either direction.
    void discard();

    // Which of the signals below the owner wants now.
    void notifyReadable(bool on);
    void notifyWritable(bool on);

signals:
    void readable();
    void writable();
    // The device went away (unplugged, hung up): every call fails from now on.
    void lost(const SerialError& why);

private:
    struct Native;
    explicit SerialDevice(std::unique_ptr<Native> native);
    std::unique_ptr<Native> native_;
};

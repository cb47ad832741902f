// SPDX-License-Identifier: GPL-3.0-or-later
// SerialDevice on Win32: the port opened for overlapped I/O, so that nothing
// waits in the window's thread; completions reach the event loop through
// QWinEventNotifier.
//
// Waiting for input: one overlapped ReadFile of a single byte stays pending
// while the owner wants to hear of input. It completes as soon as a byte
// comes (its buffer is full), on Windows and under Wine alike; that byte is
// the first of the input, and the rest is what ClearCommError counts as
// waiting, which a ReadFile of that many returns at once. WaitCommEvent is
// not used: under Wine it never reports received bytes on a terminal.
#include "serial/serial_device.h"

#include "serial/windows_ports.h"

#include <QMetaObject>
#include <QWinEventNotifier>
#include <windows.h>

namespace {

// The driver's buffers, as the design's InBufferSize and OutBufferSize.
constexpr DWORD kInBuffer = 1024;
constexpr DWORD kOutBuffer = 512;

// Errors that mean the port is gone: a USB adapter pulled out on Windows, a
// terminal hung up under Wine.
bool meansGone(DWORD code) {
    switch (code) {
    case ERROR_ACCESS_DENIED:
    case ERROR_BAD_COMMAND:
    case ERROR_DEVICE_REMOVED:
    case ERROR_GEN_FAILURE:
    case ERROR_OPERATION_ABORTED:
    case ERROR_INVALID_HANDLE:
    case ERROR_BROKEN_PIPE:
    case ERROR_NOT_READY:
    case ERROR_DEVICE_NOT_CONNECTED:
        return true;
    default:
        return false;
    }
}

SerialError failure(const char* call, DWORD code) {
    SerialError error;
    error.kind = meansGone(code)                   ? SerialError::Lost
                 : code == ERROR_INVALID_PARAMETER ? SerialError::Unsupported
                                                   : SerialError::Other;
    error.nativeCode = code;
    error.description = QStringLiteral("%1 failed: %2").arg(call, systemMessage(code));
    qCDebug(serialTrace) << call << "failed with" << code << error.description;
    return error;
}

// One overlapped operation: its record and the event it signals, watched by
// the event loop. The record must outlive the operation.
struct Operation {
    OVERLAPPED overlapped{};
    QWinEventNotifier notifier;
    bool pending = false;

    // The notifier stays enabled while the port is open: collect() resets
    // the event, so a finished operation does not wake the loop twice, and
    // an activation that comes after its operation was collected elsewhere
    // leaves the notifier watching the next one.
    Operation() : notifier(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        overlapped.hEvent = notifier.handle();
    }
    ~Operation() {
        notifier.setEnabled(false);
        CloseHandle(overlapped.hEvent);
    }

    enum class Outcome { NotYet, Done, Failed };
    // Collects a pending operation: Done with its byte count, NotYet, or
    // Failed with the system's error in `code`. Done and Failed end it.
    Outcome collect(HANDLE port, DWORD& bytes, DWORD& code) {
        const bool done = GetOverlappedResult(port, &overlapped, &bytes, FALSE);
        code = done ? 0 : GetLastError();
        if (!done && code == ERROR_IO_INCOMPLETE)
            return Outcome::NotYet;
        pending = false;
        ResetEvent(overlapped.hEvent);
        return done ? Outcome::Done : Outcome::Failed;
    }
    // Ends a pending operation before its record goes.
    void cancel(HANDLE port) {
        if (!pending)
            return;
        DWORD bytes = 0;
        CancelIoEx(port, &overlapped);
        GetOverlappedResult(port, &overlapped, &bytes, TRUE);
        pending = false;
    }
};

} // namespace

struct SerialDevice::Native {
    HANDLE port = INVALID_HANDLE_VALUE;
    DCB found{}; // the line settings as opened, put back on close
    Operation reading;
    Operation writing;
    char firstByte = 0;
    bool haveFirstByte = false;
    QByteArray inFlight; // the bytes of the pending write
    bool wantReadable = false;
    bool wantWritable = false;
    SerialError lostWhy;
    SerialDevice* self = nullptr;

    void armRead();
    bool collectFirstByte();
    bool collectWrite();
    SerialError lose(SerialError why);
};

QString SerialDevice::locationOf(int port) {
    const QByteArray named = qgetenv(QByteArray("CARNOVO_COM") + QByteArray::number(port));
    if (!named.isEmpty())
        return QString::fromLocal8Bit(named);
    return QStringLiteral("\\\\.\\COM%1").arg(port);
}

SerialDevice::Opened SerialDevice::open(int port, const QString& location) {
    Opened result;
    auto refuse = [&](SerialError::Kind kind, DWORD code) {
        result.error.kind = kind;
        result.error.nativeCode = code;
        result.error.description =
            openRefusalText(port, location, kind, systemMessage(code), presentComPorts());
        qCDebug(serialTrace) << "open" << location << "refused:" << code;
        return std::move(result);
    };
    // Share mode 0: the system's exclusive open keeps every other program out.
    const HANDLE handle = CreateFileW(reinterpret_cast<const wchar_t*>(location.utf16()),
                                      GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        switch (code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_BAD_PATHNAME:
        case ERROR_INVALID_NAME:
            return refuse(SerialError::NoSuchDevice, code);
        case ERROR_ACCESS_DENIED: // what Windows says of a port another program holds
        case ERROR_SHARING_VIOLATION:
            return refuse(SerialError::Busy, code);
        default:
            return refuse(SerialError::Other, code);
        }
    }
    auto native = std::make_unique<Native>();
    native->port = handle;
    native->found.DCBlength = sizeof(DCB);
    DCB raw{};
    if (!GetCommState(handle, &native->found)) {
        const DWORD code = GetLastError();
        CloseHandle(handle);
        return refuse(SerialError::Unsupported, code); // not a serial port
    }
    raw = native->found;
    raw.BaudRate = CBR_9600;
    raw.ByteSize = 8;
    raw.Parity = NOPARITY;
    raw.StopBits = ONESTOPBIT;
    raw.fBinary = 1;
    raw.fParity = 0;
    raw.fOutxCtsFlow = 0;
    raw.fOutxDsrFlow = 0;
    raw.fDtrControl = DTR_CONTROL_ENABLE;
    raw.fDsrSensitivity = 0;
    raw.fOutX = 0;
    raw.fInX = 0;
    raw.fErrorChar = 0;
    raw.fNull = 0;
    raw.fRtsControl = RTS_CONTROL_ENABLE;
    raw.fAbortOnError = 0;
    // No time-outs: a read completes when its buffer is full, a write when
    // the driver has taken every byte.
    COMMTIMEOUTS timeouts{};
    if (!SetupComm(handle, kInBuffer, kOutBuffer) || !SetCommState(handle, &raw) ||
        !SetCommTimeouts(handle, &timeouts)) {
        const DWORD code = GetLastError();
        SetCommState(handle, &native->found);
        CloseHandle(handle);
        return refuse(SerialError::Unsupported, code);
    }
    PurgeComm(handle, PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR);
    qCDebug(serialTrace).nospace()
        << "open " << location << ": 9600 8N1 raw, was " << native->found.BaudRate
        << " baud; buffers " << kInBuffer << "/" << kOutBuffer;

    Native* n = native.get();
    result.device.reset(new SerialDevice(std::move(native)));
    n->self = result.device.get();
    SerialDevice* device = result.device.get();
    connect(&device->native_->reading.notifier, &QWinEventNotifier::activated, device, [device] {
        Native& n = *device->native_;
        if (!n.collectFirstByte() || !n.wantReadable)
            return;
        if (!n.haveFirstByte)
            return n.armRead();
        qCDebug(serialTrace) << "woken: readable";
        emit device->readable();
    });
    connect(&device->native_->writing.notifier, &QWinEventNotifier::activated, device, [device] {
        if (device->native_->collectWrite() && device->native_->wantWritable) {
            qCDebug(serialTrace) << "woken: writable";
            emit device->writable();
        }
    });
    return result;
}

SerialDevice::SerialDevice(std::unique_ptr<Native> native) : native_(std::move(native)) {
}

SerialDevice::~SerialDevice() {
    Native& n = *native_;
    n.reading.cancel(n.port);
    n.writing.cancel(n.port);
    if (!n.lostWhy)
        SetCommState(n.port, &n.found);
    CloseHandle(n.port);
    qCDebug(serialTrace) << "closed; line settings put back";
}

W32Comms::HANDLE SerialDevice::handle() const {
    return native_->port;
}

SerialError SerialDevice::state(W32Comms::DCB& dcb) const {
    if (native_->lostWhy)
        return native_->lostWhy;
    if (!W32Comms::GetCommState(handle(), dcb))
        return failure("GetCommState", GetLastError());
    return {};
}

SerialError SerialDevice::setState(const W32Comms::DCB& dcb) {
    if (native_->lostWhy)
        return native_->lostWhy;
    qCDebug(serialTrace) << "SetCommState" << dcb.BaudRate << "baud";
    if (!W32Comms::SetCommState(handle(), dcb))
        return native_->lose(failure("SetCommState", GetLastError()));
    return {};
}

SerialError SerialDevice::bytesWaiting(qint64& count) {
    count = 0;
    if (!native_->collectFirstByte())
        return native_->lostWhy;
    Native& n = *native_;
    // While the one-byte read is pending nothing has come that it did not take.
    if (n.reading.pending)
        return {};
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(n.port, &errors, &status))
        return native_->lose(failure("ClearCommError", GetLastError()));
    count = status.cbInQue + (n.haveFirstByte ? 1 : 0);
    return {};
}

SerialError SerialDevice::read(QByteArray& into) {
    qint64 waiting = 0;
    if (const SerialError error = bytesWaiting(waiting))
        return error;
    Native& n = *native_;
    const qsizetype before = into.size();
    if (n.haveFirstByte) {
        into.append(n.firstByte);
        n.haveFirstByte = false;
        --waiting;
    }
    if (waiting > 0) {
        // As many as are waiting: the read completes at once.
        const qsizetype start = into.size();
        into.resize(start + waiting);
        DWORD got = 0;
        OVERLAPPED overlapped{};
        overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        const bool done =
            ReadFile(n.port, into.data() + start, DWORD(waiting), &got, &overlapped) ||
            (GetLastError() == ERROR_IO_PENDING &&
             GetOverlappedResult(n.port, &overlapped, &got, TRUE));
        const DWORD code = GetLastError();
        CloseHandle(overlapped.hEvent);
        into.resize(start + (done ? got : 0));
        if (!done)
            return native_->lose(failure("ReadFile", code));
    }
    qCDebug(serialTrace) << "read" << into.size() - before << "bytes";
    if (n.wantReadable)
        n.armRead();
    return n.lostWhy;
}

SerialError SerialDevice::write(QByteArray& bytes) {
    Native& n = *native_;
    if (!native_->collectWrite())
        return n.lostWhy;
    if (n.writing.pending || bytes.isEmpty())
        return {};
    // The system keeps the bytes of an overlapped write until it completes:
    // from here on they are the driver's, as a Linux driver's buffer holds them.
    n.inFlight = bytes.left(kOutBuffer);
    DWORD sent = 0;
    if (WriteFile(n.port, n.inFlight.constData(), DWORD(n.inFlight.size()), &sent,
                  &n.writing.overlapped)) {
        ResetEvent(n.writing.overlapped.hEvent);
    } else if (GetLastError() == ERROR_IO_PENDING) {
        n.writing.pending = true;
        sent = DWORD(n.inFlight.size());
    } else {
        return native_->lose(failure("WriteFile", GetLastError()));
    }
    qCDebug(serialTrace) << "write" << sent << "of" << bytes.size() << "bytes"
                         << (n.writing.pending ? "(completes later)" : "");
    bytes.remove(0, sent);
    return {};
}

void SerialDevice::discard() {
    if (native_->lostWhy)
        return;
    native_->haveFirstByte = false;
    PurgeComm(native_->port, PURGE_RXCLEAR | PURGE_TXCLEAR);
    qCDebug(serialTrace) << "discarded the driver's buffers";
}

void SerialDevice::notifyReadable(bool on) {
    Native& n = *native_;
    n.wantReadable = on;
    if (on)
        n.armRead();
}

void SerialDevice::notifyWritable(bool on) {
    Native& n = *native_;
    n.wantWritable = on;
    if (!on || n.lostWhy || n.writing.pending)
        return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (native_->wantWritable && !native_->writing.pending && !native_->lostWhy)
                emit writable();
        },
        Qt::QueuedConnection);
}

// Puts the one-byte read in place while the owner listens and no byte is
// held. It is armed only then: under Wine every completion is a wake-up of
// the program and a round trip through Wine's server, and a reply would
// otherwise cost one of each per byte. A read left pending when the owner
// stops listening wakes it once more at most. Input already here is told
// from the event loop, as a level-triggered notifier would.
void SerialDevice::Native::armRead() {
    if (lostWhy || reading.pending)
        return;
    if (!haveFirstByte) {
        DWORD got = 0;
        if (ReadFile(port, &firstByte, 1, &got, &reading.overlapped)) {
            ResetEvent(reading.overlapped.hEvent);
            haveFirstByte = got == 1;
        } else if (GetLastError() == ERROR_IO_PENDING) {
            reading.pending = true;
            return;
        } else {
            lose(failure("ReadFile", GetLastError()));
            return;
        }
    }
    if (haveFirstByte && wantReadable)
        QMetaObject::invokeMethod(
            self,
            [this] {
                if (wantReadable && haveFirstByte) {
                    qCDebug(serialTrace) << "woken: readable (waiting)";
                    emit self->readable();
                }
            },
            Qt::QueuedConnection);
}

// Takes the pending one-byte read's result if it has finished. False once
// the port is lost.
bool SerialDevice::Native::collectFirstByte() {
    Native& n = *this;
    if (n.lostWhy)
        return false;
    if (!n.reading.pending)
        return true;
    DWORD got = 0, code = 0;
    switch (n.reading.collect(n.port, got, code)) {
    case Operation::Outcome::NotYet:
        return true;
    case Operation::Outcome::Done:
        n.haveFirstByte = got == 1;
        return true;
    case Operation::Outcome::Failed:
        break;
    }
    n.lose(failure("ReadFile", code));
    return false;
}

// Takes the pending write's result if it has finished. False once the port
// is lost.
bool SerialDevice::Native::collectWrite() {
    Native& n = *this;
    if (n.lostWhy)
        return false;
    if (!n.writing.pending)
        return true;
    DWORD sent = 0, code = 0;
    switch (n.writing.collect(n.port, sent, code)) {
    case Operation::Outcome::NotYet:
        return true;
    case Operation::Outcome::Done:
        qCDebug(serialTrace) << "write completed:" << sent << "bytes";
        if (sent == DWORD(n.inFlight.size()))
            return true;
        code = ERROR_GEN_FAILURE;
        break;
    case Operation::Outcome::Failed:
        break;
    }
    n.lose(failure("WriteFile", code));
    return false;
}

// From now on every call fails with `why`; the owner hears of it once, from
// the event loop, whatever call found it.
SerialError SerialDevice::Native::lose(SerialError why) {
    Native& n = *this;
    if (why.kind != SerialError::Lost || n.lostWhy)
        return why;
    why.description = QStringLiteral("the port went away (%1)").arg(why.description);
    n.lostWhy = why;
    n.reading.notifier.setEnabled(false);
    n.writing.notifier.setEnabled(false);
    qCDebug(serialTrace) << "lost:" << why.nativeCode;
    QMetaObject::invokeMethod(
        self, [this] { emit self->lost(lostWhy); }, Qt::QueuedConnection);
    return why;
}

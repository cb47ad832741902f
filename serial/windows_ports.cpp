// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/windows_ports.h"

#include <algorithm>
#include <windows.h>

QString systemMessage(unsigned long code) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    QString message = length ? QString::fromWCharArray(text, int(length)).trimmed()
                             : QStringLiteral("error %1").arg(code);
    LocalFree(text);
    return message;
}

QStringList presentComPorts() {
    QStringList ports;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return ports;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        wchar_t data[64];
        DWORD nameLength = 256, dataBytes = sizeof(data) - sizeof(wchar_t), type = 0;
        const LONG status = RegEnumValueW(key, index, name, &nameLength, nullptr, &type,
                                          reinterpret_cast<BYTE*>(data), &dataBytes);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        if (status != ERROR_SUCCESS || type != REG_SZ)
            continue;
        data[dataBytes / sizeof(wchar_t)] = 0;
        ports << QString::fromWCharArray(data).trimmed();
    }
    RegCloseKey(key);
    std::sort(ports.begin(), ports.end(), [](const QString& a, const QString& b) {
        return a.mid(3).toInt() < b.mid(3).toInt();
    });
    return ports;
}

QString openRefusalText(int port, const QString& location, SerialError::Kind kind,
                        const QString& reason, const QStringList& present) {
    const QString opening = QStringLiteral("Could not open COM %1 (%2): ").arg(port).arg(location);
    const QString renumber =
        QStringLiteral("give the adapter the number COM%1 in Device Manager: Ports (COM & LPT), "
                       "the adapter, Properties, Port Settings, Advanced, COM Port Number.")
            .arg(port);
    switch (kind) {
    case SerialError::Busy:
        return opening + QStringLiteral("another program is using the port. Close it (a terminal "
                                        "program, or a phone or GPS tool that watches serial "
                                        "ports) and try again.");
    case SerialError::NoSuchDevice:
        if (present.isEmpty())
            return opening +
                   QStringLiteral("there is no such port, and Windows knows of no serial "
                                  "port. Plug in the cable, or ") +
                   renumber;
        return opening +
               QStringLiteral("there is no such port. The ports present are %1: choose one of "
                              "these, or ")
                   .arg(present.join(QLatin1String(", "))) +
               renumber;
    default:
        return opening + reason;
    }
}

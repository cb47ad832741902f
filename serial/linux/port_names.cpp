// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/linux/port_names.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <algorithm>

namespace {

// Text before numbers, and numbers by their value.
bool naturalLess(const QString& a, const QString& b) {
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (!a[i].isDigit() || !b[j].isDigit()) {
            if (a[i] != b[j])
                return a[i] < b[j];
            ++i, ++j;
            continue;
        }
        const qsizetype numberA = i, numberB = j;
        while (i < a.size() && a[i].isDigit())
            ++i;
        while (j < b.size() && b[j].isDigit())
            ++j;
        const QString x = a.mid(numberA, i - numberA), y = b.mid(numberB, j - numberB);
        if (x.size() != y.size() || x != y)
            return x.size() != y.size() ? x.size() < y.size() : x < y;
    }
    return a.size() - i < b.size() - j;
}

QString firstLine(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readLine().trimmed())
                                          : QString();
}

// The USB device above a tty's hardware, which names its maker and product;
// empty for a port that is not on USB.
QString usbDeviceOf(QString hardware, const QString& sysRoot) {
    const QString top = QDir(sysRoot).canonicalPath();
    if (top.isEmpty() || !hardware.startsWith(top))
        return {};
    for (; hardware.size() > top.size(); hardware = QFileInfo(hardware).path())
        if (QFile::exists(hardware + QStringLiteral("/idVendor")))
            return hardware;
    return {};
}

} // namespace

QList<PortDescription> comPortOrder(QList<PortDescription> ports) {
    const auto key = [](const PortDescription& p) {
        return p.usb && !p.byIdName.isEmpty() ? p.byIdName : p.name;
    };
    std::ranges::stable_sort(ports, [&](const PortDescription& a, const PortDescription& b) {
        return a.usb != b.usb ? a.usb : naturalLess(key(a), key(b));
    });
    return ports;
}

QList<PortDescription> presentPorts(const DeviceRoots& roots) {
    QHash<QString, QString> byIdName; // device name -> name of its link
    const QDir byId(roots.dev + QStringLiteral("/serial/by-id"));
    for (const QFileInfo& link :
         byId.entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
        byIdName.insert(QFileInfo(link.symLinkTarget()).fileName(), link.fileName());

    QList<PortDescription> ports;
    const QDir ttys(roots.sys + QStringLiteral("/class/tty"));
    for (const QString& name :
         ttys.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        const QString hardware =
            QFileInfo(ttys.filePath(name) + QStringLiteral("/device")).canonicalFilePath();
        if (hardware.isEmpty())
            continue; // consoles, pseudo-terminals
        const QString usb = usbDeviceOf(hardware, roots.sys);
        // A serial8250 port without a UART behind it has type 0 (unknown).
        if (usb.isEmpty() && firstLine(ttys.filePath(name) + QStringLiteral("/type")).toInt() == 0)
            continue;
        PortDescription port{name, roots.dev + '/' + name, !usb.isEmpty(), {}, {}};
        if (byIdName.contains(name))
            port.usb = true, port.byIdName = byIdName.take(name);
        if (!usb.isEmpty()) {
            QStringList words{firstLine(usb + QStringLiteral("/manufacturer")),
                              firstLine(usb + QStringLiteral("/product"))};
            words.removeAll(QString());
            port.description = words.join(' ');
        }
        ports.append(port);
    }
    // A by-id link is a USB adapter even where the system shows no more of it.
    for (auto link = byIdName.cbegin(); link != byIdName.cend(); ++link)
        ports.append({link.key(), roots.dev + '/' + link.key(), true, link.value(), {}});
    return ports;
}

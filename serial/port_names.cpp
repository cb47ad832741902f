#include "serial/port_names.h"

#include <QDir>
#include <QHash>
#include <QSerialPortInfo>
#include <algorithm>
#include <tuple>

QList<PortDescription> comPortOrder(QList<PortDescription> ports) {
    const auto key = [](const PortDescription& p) {
        return std::tuple(!p.usb, p.usb && !p.byIdName.isEmpty() ? p.byIdName : p.name);
    };
    std::ranges::sort(ports, {}, key);
    return ports;
}

QList<PortDescription> presentPorts() {
    QHash<QString, QString> byIdName; // device -> name of its link
    const QDir byId(QStringLiteral("/dev/serial/by-id"));
    for (const QFileInfo& link : byId.entryInfoList(QDir::System | QDir::NoDotAndDotDot))
        byIdName.insert(link.canonicalFilePath(), link.fileName());

    QList<PortDescription> ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        QStringList words{info.manufacturer(), info.description()};
        words.removeAll(QString());
        ports.append({info.portName(), info.systemLocation(), info.hasVendorIdentifier(),
                      byIdName.value(info.systemLocation()), words.join(' ')});
    }
    return ports;
}

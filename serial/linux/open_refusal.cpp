// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/linux/open_refusal.h"

#include "serial/comm_control.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <grp.h>
#include <sys/stat.h>

SerialError::Kind openFailureKind(int error) {
    switch (error) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
        return SerialError::NoSuchDevice;
    case EACCES:
    case EPERM:
        return SerialError::PermissionDenied;
    case EBUSY:
        return SerialError::Busy;
    default:
        return SerialError::Other;
    }
}

namespace {

// The group that owns the device; serial devices usually belong to dialout.
QString groupOf(const QByteArray& path) {
    struct stat status {};
    const group* owner = ::stat(path.constData(), &status) == 0 ? getgrgid(status.st_gid) : nullptr;
    return owner ? QString::fromLocal8Bit(owner->gr_name) : QStringLiteral("dialout");
}
} // namespace

QString refusalText(int comPort, const QString& device, SerialError::Kind refusal,
                    const QString& reason, const QString& group,
                    const QList<PortDescription>& comPorts) {
    const QString opening = QStringLiteral("Could not open COM %1 (%2): ").arg(comPort).arg(device);
    switch (refusal) {
    case SerialError::PermissionDenied:
        if (group == QLatin1String("root")) {
            const QString real = QFileInfo(device).canonicalFilePath();
            return opening +
                   QStringLiteral(
                       "permission denied. The device belongs to root alone, and no user should "
                       "join the group root. Ask an administrator to give the device to the "
                       "group dialout with a udev rule (a line KERNEL==\"%1\", GROUP=\"dialout\", "
                       "MODE=\"0660\" in a file in /etc/udev/rules.d), then join dialout with "
                       "\"sudo usermod -aG dialout $USER\" and log out and in again.")
                       .arg(QFileInfo(real.isEmpty() ? device : real).fileName());
        }
        return opening + QStringLiteral("permission denied. The device belongs to the group %1; "
                                        "your user must be a member of it. Add it with "
                                        "\"sudo usermod -aG %1 $USER\", then log out and in again.")
                             .arg(group);
    case SerialError::Busy:
        return opening + QStringLiteral("another program is using the port. ModemManager, which "
                                        "probes newly plugged-in USB serial devices, is a likely "
                                        "cause: wait a moment and try again, or stop it with "
                                        "\"sudo systemctl stop ModemManager\".");
    case SerialError::NoSuchDevice:
        break;
    default:
        return opening + reason;
    }
    QStringList found;
    for (int n = 1; n <= comPorts.size(); ++n) {
        const PortDescription& port = comPorts[n - 1];
        found << QStringLiteral("COM %1 is %2").arg(n).arg(port.location) +
                     (port.description.isEmpty() ? QString() : " (" + port.description + ")");
    }
    return (device.isEmpty() ? QStringLiteral("COM %1 has no device: ").arg(comPort)
                             : opening + QStringLiteral("no such device. ")) +
           (found.isEmpty() ? QStringLiteral("no serial ports were found. Plug in the cable, or")
                            : found.join(", ") + QStringLiteral(". Choose one of these, or")) +
           QStringLiteral(" name a device for COM %1 with the environment variable CARNOVO_COM%1 "
                          "(e.g. CARNOVO_COM%1=/dev/ttyUSB0).")
               .arg(comPort);
}

QString openFailureText(int comPort, const QString& device, int error) {
    const SerialError::Kind refusal =
        device.isEmpty() ? SerialError::NoSuchDevice : openFailureKind(error);
    const QList<PortDescription> comPorts =
        refusal == SerialError::NoSuchDevice
            ? comPortOrder(presentPorts()).mid(0, kLastComPort - kFirstComPort + 1)
            : QList<PortDescription>();
    return refusalText(comPort, device, refusal, QString::fromLocal8Bit(std::strerror(error)),
                       groupOf(QFile::encodeName(device)), comPorts);
}

QString lockedText(int comPort, const QString& device, const QString& holder,
                   const QString& lockFile) {
    return QStringLiteral("Could not open COM %1 (%2): another program is using the port: "
                          "process %3 holds its lock file %4. Close that program and try again.")
        .arg(comPort)
        .arg(device, holder, lockFile);
}

QString lockRefusedText(int comPort, const QString& device, const QString& lockFile,
                        const QString& what) {
    return QStringLiteral("Could not open COM %1 (%2): where its lock file %3 goes there is %4, "
                          "not a lock file. Remove it if no program uses the port, and try again.")
        .arg(comPort)
        .arg(device, lockFile, what);
}

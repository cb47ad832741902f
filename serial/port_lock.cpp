// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/port_lock.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The process id on the first line of a lock file (ten characters of text
// and a newline; Qt's lock files go on with more lines); 0 when it has none.
pid_t holderOf(const QByteArray& file) {
    QFile lock(QFile::decodeName(file));
    if (!lock.open(QIODevice::ReadOnly))
        return 0;
    bool number = false;
    const pid_t pid = lock.readLine(64).trimmed().toInt(&number);
    return number && pid > 0 ? pid : 0;
}

bool running(pid_t pid) {
    return kill(pid, 0) == 0 || errno == EPERM;
}

} // namespace

QString PortLock::path(const QString& device) const {
    const QString real = QFileInfo(device).canonicalFilePath();
    QString name = real.isEmpty() ? device : real;
    if (name.startsWith(QLatin1String("/dev/")))
        name.remove(0, 5);
    return directory_ + QStringLiteral("/LCK..") + name.replace(QLatin1Char('/'), QLatin1Char('_'));
}

pid_t PortLock::acquire(const QString& device) {
    release();
    const QByteArray file = QFile::encodeName(path(device));
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int fd = ::open(file.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0) {
            const QByteArray line = QByteArray::number(getpid()).rightJustified(10, ' ') + '\n';
            const bool written = ::write(fd, line.constData(), size_t(line.size())) == line.size();
            ::close(fd);
            if (written)
                held_ = file;
            else
                ::unlink(file.constData());
            return 0;
        }
        if (errno != EEXIST)
            return 0;
        const pid_t holder = holderOf(file);
        if (holder > 0 && running(holder))
            return holder;
        ::unlink(file.constData()); // left behind by a program that ended without cleaning up
    }
    return 0;
}

void PortLock::release() {
    if (!held_.isEmpty() && holderOf(held_) == getpid())
        ::unlink(held_.constData());
    held_.clear();
}

QString PortLock::describeProcess(pid_t pid) {
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    const QByteArray name =
        comm.open(QIODevice::ReadOnly) ? comm.readAll().trimmed() : QByteArray();
    return name.isEmpty() ? QString::number(pid)
                          : QStringLiteral("%1 (%2)").arg(pid).arg(QString::fromLocal8Bit(name));
}

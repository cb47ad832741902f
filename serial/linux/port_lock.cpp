// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/linux/port_lock.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QThread>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A lock file holds a process id and, in Qt's form, a few short lines more.
constexpr off_t kMaxLockSize = 1024;
// An empty lock file younger than this is still being written by a program
// that creates it before it writes its id.
constexpr int kYoungSeconds = 2;
constexpr int kAttempts = 8;
constexpr int kRetryMs = 20;

// The lock files this process holds: one that names our id anywhere else
// was left by an earlier process that had the same id.
QSet<QByteArray>& heldHere() {
    static QSet<QByteArray> files;
    return files;
}

// The process id on the first line of a lock file's text; 0 when it has none.
pid_t pidIn(const QByteArray& text) {
    bool number = false;
    const pid_t pid = text.left(text.indexOf('\n')).trimmed().toInt(&number);
    return number && pid > 0 ? pid : 0;
}

bool running(pid_t pid) {
    return kill(pid, 0) == 0 || errno == EPERM;
}

QString kindOf(mode_t mode) {
    if (S_ISFIFO(mode))
        return QStringLiteral("a named pipe (FIFO)");
    if (S_ISLNK(mode))
        return QStringLiteral("a symbolic link");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("a device");
    return QStringLiteral("something that is not a file");
}

bool young(const struct stat& file) {
    return std::time(nullptr) - file.st_mtime < kYoungSeconds;
}

// What sits at `file`, looked at without following a link or waiting on a pipe.
struct Seen {
    enum { Nothing, Lock, Untrusted, Directory } kind = Nothing;
    pid_t pid = 0;
    bool emptyAndYoung = false;
    QString what;
    struct stat status {};
    int fd = -1;
};

Seen look(const QByteArray& file) {
    Seen seen;
    const auto untrusted = [&](const QString& what) {
        seen.kind = Seen::Untrusted;
        seen.what = what;
        return seen;
    };
    // Looked at before opening: opening a device or a pipe can do things of its own.
    if (::lstat(file.constData(), &seen.status) != 0)
        return errno == ENOENT ? seen : untrusted(QString::fromLocal8Bit(std::strerror(errno)));
    if (S_ISDIR(seen.status.st_mode)) {
        seen.kind = Seen::Directory;
        return seen;
    }
    if (!S_ISREG(seen.status.st_mode))
        return untrusted(kindOf(seen.status.st_mode));
    seen.fd = ::open(file.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (seen.fd < 0)
        return errno == ENOENT ? seen
                               : untrusted(QStringLiteral("a file that cannot be read (%1)")
                                               .arg(QString::fromLocal8Bit(std::strerror(errno))));
    // It may have been swapped since.
    if (fstat(seen.fd, &seen.status) != 0 || !S_ISREG(seen.status.st_mode))
        return untrusted(kindOf(seen.status.st_mode));
    if (seen.status.st_size > kMaxLockSize)
        return untrusted(QStringLiteral("a file of %1 bytes, too large for a lock file")
                             .arg(seen.status.st_size));
    char text[kMaxLockSize];
    const ssize_t n = ::pread(seen.fd, text, sizeof text, 0);
    seen.kind = Seen::Lock;
    seen.pid = n > 0 ? pidIn(QByteArray(text, int(n))) : 0;
    seen.emptyAndYoung = n == 0 && young(seen.status);
    return seen;
}

// Removes a stale lock file, unless another instance is removing it at the
// same time: that one takes the lock, this one finds it taken next time.
// False when the file is not ours to remove (another user's, in a sticky
// directory).
bool removeStale(const QByteArray& file, const Seen& seen) {
    if (flock(seen.fd, LOCK_EX | LOCK_NB) != 0) {
        QThread::msleep(kRetryMs);
        return true;
    }
    struct stat now {};
    const bool same = ::lstat(file.constData(), &now) == 0 && now.st_dev == seen.status.st_dev &&
                      now.st_ino == seen.status.st_ino;
    return !same || ::unlink(file.constData()) == 0 || errno == ENOENT;
}

} // namespace

QString PortLock::defaultDirectory() {
    const QString injected = qEnvironmentVariable("CARNOVO_LOCK_DIR");
    return injected.isEmpty() ? QStringLiteral("/run/lock") : injected;
}

PortLock::PortLock(QString directory) : directory_(std::move(directory)) {
}

QString PortLock::path(const QString& device) const {
    const QString real = QFileInfo(device).canonicalFilePath();
    QString name = real.isEmpty() ? device : real;
    if (name.startsWith(QLatin1String("/dev/")))
        name.remove(0, 5);
    return directory_ + QStringLiteral("/LCK..") + name.replace(QLatin1Char('/'), QLatin1Char('_'));
}

// The new lock is written whole into a file of its own and linked into
// place, so that no reader ever finds it empty.
PortLock::Finding PortLock::acquire(const QString& device) {
    release();
    const QByteArray file = QFile::encodeName(path(device));
    QByteArray temp = QFile::encodeName(directory_) + "/.carnovo-lock.XXXXXX";
    struct stat mine {};
    int fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd >= 0) {
        const QByteArray line = QByteArray::number(getpid()).rightJustified(10, ' ') + '\n';
        const bool written = fchmod(fd, 0644) == 0 &&
                             ::write(fd, line.constData(), size_t(line.size())) == line.size() &&
                             fstat(fd, &mine) == 0;
        ::close(fd);
        if (!written) {
            ::unlink(temp.constData());
            temp.clear();
        }
    } else {
        temp.clear(); // a directory we cannot write takes no locks from us
    }

    Finding found;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (!temp.isEmpty() && ::link(temp.constData(), file.constData()) == 0) {
            held_ = file;
            heldDevice_ = mine.st_dev;
            heldInode_ = mine.st_ino;
            heldHere().insert(file);
            break;
        }
        if (!temp.isEmpty() && errno != EEXIST)
            break;
        Seen seen = look(file);
        const bool again = [&] {
            switch (seen.kind) {
            case Seen::Nothing:
                found = {};
                return !temp.isEmpty();
            case Seen::Untrusted:
                found = {Finding::Untrusted, 0, seen.what};
                return false;
            case Seen::Directory:
                // No lock can go there and none names a holder: the port's
                // exclusive open still keeps other programs out.
                found = {};
                return false;
            case Seen::Lock:
                break;
            }
            const bool earlierSelf = seen.pid == getpid() && !heldHere().contains(file);
            if (seen.pid > 0 && running(seen.pid) && !earlierSelf) {
                found = {Finding::Held, seen.pid, {}};
                return false;
            }
            if (seen.emptyAndYoung) {
                found = {Finding::Untrusted, 0,
                         QStringLiteral("an empty file just made (another program may be "
                                        "taking the port)")};
                QThread::msleep(kRetryMs);
                return true;
            }
            found = {};
            // Left behind by a program that ended without cleaning up.
            return !temp.isEmpty() && removeStale(file, seen);
        }();
        if (seen.fd >= 0)
            ::close(seen.fd);
        if (!again)
            break;
    }
    if (!temp.isEmpty())
        ::unlink(temp.constData());
    return found;
}

void PortLock::release() {
    if (held_.isEmpty())
        return;
    // Only the very file we linked: never one another program put there since.
    struct stat now {};
    if (::lstat(held_.constData(), &now) == 0 && now.st_dev == heldDevice_ &&
        now.st_ino == heldInode_)
        ::unlink(held_.constData());
    heldHere().remove(held_);
    held_.clear();
}

QString PortLock::describeProcess(pid_t pid) {
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    const QByteArray name =
        comm.open(QIODevice::ReadOnly) ? comm.readAll().trimmed() : QByteArray();
    return name.isEmpty() ? QString::number(pid)
                          : QStringLiteral("%1 (%2)").arg(pid).arg(QString::fromLocal8Bit(name));
}

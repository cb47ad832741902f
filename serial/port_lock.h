// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <sys/types.h>
#include <utility>

// The lock file serial programs leave while they use a port (LCK..ttyUSB0,
// holding the owner's process id), so that two of them never share a line.
class PortLock {
public:
    explicit PortLock(QString directory = QStringLiteral("/run/lock"))
        : directory_(std::move(directory)) {}
    ~PortLock() { release(); }
    PortLock(const PortLock&) = delete;
    PortLock& operator=(const PortLock&) = delete;

    // Takes the lock of `device`, also from an owner that no longer runs.
    // Returns 0 when it is ours, or when the directory takes no locks (the
    // port's exclusive open still keeps others out); else the live holder's
    // process id.
    pid_t acquire(const QString& device);
    void release();

    // The lock file of `device`, named after the device behind any links.
    QString path(const QString& device) const;
    // "1234 (minicom)", as far as the system tells.
    static QString describeProcess(pid_t pid);

private:
    QString directory_;
    QByteArray held_;
};

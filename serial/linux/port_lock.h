// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <sys/types.h>

// The lock file serial programs leave while they use a port (LCK..ttyUSB0,
// holding the owner's process id in ten characters and a newline), so that
// two of them never share a line. /run/lock is writable by every user, so
// whatever sits there is looked at without following links, without
// waiting on it and without reading more than a lock file holds.
class PortLock {
public:
    // What acquire() found.
    struct Finding {
        enum Kind { Ours, Held, Untrusted } kind = Ours;
        pid_t holder = 0; // Held: the live owner
        QString what;     // Untrusted: what sits where the lock file goes
    };

    // CARNOVO_LOCK_DIR when set, else /run/lock.
    static QString defaultDirectory();

    explicit PortLock(QString directory = defaultDirectory());
    ~PortLock() { release(); }
    PortLock(const PortLock&) = delete;
    PortLock& operator=(const PortLock&) = delete;

    // Takes the lock of `device`, also from an owner that no longer runs.
    // Ours also when the directory takes no locks: the port's exclusive open
    // still keeps others out.
    Finding acquire(const QString& device);
    void release();

    // The lock file of `device`, named after the device behind any links.
    QString path(const QString& device) const;
    // "1234 (minicom)", as far as the system tells.
    static QString describeProcess(pid_t pid);

private:
    QString directory_;
    QByteArray held_;
    dev_t heldDevice_ = 0;
    ino_t heldInode_ = 0;
};

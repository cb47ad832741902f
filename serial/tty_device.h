// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "serial/port_lock.h"

#include <QString>
#include <memory>

// One open serial device, held alone: its descriptor, opened exclusively,
// with the port's lock file taken and the driver's latency timer shortened.
// Destroying it puts all of that back.
class TtyDevice {
public:
    struct Opened {
        std::unique_ptr<TtyDevice> device;
        int error = 0;          // the errno when the device itself did not open
        PortLock::Finding lock; // Held or Untrusted when its lock file kept it shut
        QString lockFile;
    };

    // Opens `path` raw at 9600 baud, 8 data bits, no parity, 1 stop bit,
    // holding nothing that reached the device while it was closed.
    static Opened open(const QString& path,
                       const QString& lockDirectory = PortLock::defaultDirectory());
    ~TtyDevice();
    TtyDevice(const TtyDevice&) = delete;
    TtyDevice& operator=(const TtyDevice&) = delete;

    int fd() const { return fd_; }

private:
    TtyDevice(int fd, std::unique_ptr<PortLock> lock, bool lowLatency)
        : fd_(fd), lock_(std::move(lock)), lowLatency_(lowLatency) {}

    const int fd_;
    const std::unique_ptr<PortLock> lock_;
    const bool lowLatency_;
};

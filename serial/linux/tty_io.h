// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

// The Linux tty calls of an open serial device beyond its line format: moving
// bytes, the driver's buffers and its latency setting. Each returns 0 or the
// errno of the failed call; none writes the line settings and none blocks.
namespace tty {

// The error of a read that found the end of the line: it was hung up.
inline constexpr int kHungUp = -1;

// Asks the driver to hand bytes over at once instead of on its latency timer
// (FTDI adapters wait 16 ms by default). True when it changed the setting;
// endLowLatency puts it back. Drivers that refuse are left alone.
bool requestLowLatency(int fd);
void endLowLatency(int fd);

// Throws away what the driver holds in either direction.
void discard(int fd);

// True when the line reports a hang-up (POLLHUP), an error (POLLERR) or a
// descriptor that is no longer valid (POLLNVAL): the device is gone.
bool gone(int fd);

// Bytes waiting in the driver, or the errno when it cannot tell.
int bytesWaiting(int fd, int& count);

// Appends every byte waiting in the driver to `into`. Returns 0, the errno
// of a failed read, or kHungUp.
int readWaiting(int fd, QByteArray& into);

// Writes what the driver takes of `bytes` now and removes that from them.
// Returns 0 (also when it took nothing) or the errno of the failed write.
int writeSome(int fd, QByteArray& bytes);

} // namespace tty

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

// Linux tty calls the serial control needs beyond the line format. None of
// them writes the line settings.
namespace tty {

// `error` of a read that found the line hung up: end of file.
inline constexpr int kHungUp = -1;

// Asks the driver to hand bytes over at once instead of on its latency timer
// (FTDI adapters wait 16 ms by default). True when it changed the setting;
// endLowLatency puts it back. Drivers that refuse are left alone.
bool requestLowLatency(int fd);
void endLowLatency(int fd);

// Throws away what the driver holds in either direction.
void discard(int fd);

// True when the line reports a hang-up or an error: the device is gone.
bool hungUp(int fd);

// Bytes waiting in the driver; sets `error` to the errno when it cannot tell.
int bytesWaiting(int fd, int& error);

// Every byte waiting in the driver, without blocking. Sets `error` to 0, to
// the errno of a failed read, or to kHungUp.
QByteArray readWaiting(int fd, int& error);

// Writes all of `bytes`, waiting a while for room in the driver. Returns 0
// or the errno of the failed write.
int writeAll(int fd, const QByteArray& bytes);

} // namespace tty

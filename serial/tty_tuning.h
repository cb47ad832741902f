#pragma once

#include <QByteArray>

// Linux tty settings the serial control needs beyond the line format.
namespace tty {

// The kernel wakes a reader of `fd` only once `bytes` are waiting (VMIN, with
// VTIME 0; at most 255). Non-zero on success.
int setReadThreshold(int fd, int bytes);

// Asks the driver to hand bytes over at once instead of on its latency timer
// (FTDI adapters wait 16 ms by default). Drivers that refuse are left alone.
void requestLowLatency(int fd);

// Bytes waiting in the driver, 0 when it cannot tell.
int bytesWaiting(int fd);

// Milliseconds one byte takes on the line at its input speed (start bit, 8
// data bits, stop bit); 0 when the speed is unknown.
double byteMs(int fd);

// Every byte waiting in the driver, without blocking, also below the read
// threshold. Sets `error` to the errno when the line is gone (the far end
// closed), to 0 otherwise.
QByteArray readWaiting(int fd, int& error);

} // namespace tty

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "serial/serial_device.h"

#include <QStringList>

// The system's own words for a Win32 error code.
QString systemMessage(unsigned long code);

// The serial ports Windows knows of ("COM1", "COM4"), in number order: the
// values under HKLM\HARDWARE\DEVICEMAP\SERIALCOMM, which every serial driver,
// USB adapters' included, fills in while its port is present.
QStringList presentComPorts();

// The serial control's text when COM `port` at `location` does not open for
// the reason `kind`: names both, and says what the user can do. `reason` is
// the system's words (used for Other and Unsupported), `present` the ports
// there are.
QString openRefusalText(int port, const QString& location, SerialError::Kind kind,
                        const QString& reason, const QStringList& present);

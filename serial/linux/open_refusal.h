// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "serial/linux/port_names.h"
#include "serial/serial_device.h"

// Why opening failed with the errno `error`, told apart as far as the user
// can act on it: NoSuchDevice, PermissionDenied, Busy or Other.
SerialError::Kind openFailureKind(int error);

// The serial control's error text when COM `comPort` does not open: names
// `device` (empty when COM `comPort` has none) and says what to do. `group`
// owns the device, `reason` is the system's own words (used for Other), and
// `comPorts` are the present ports in COM order.
QString refusalText(int comPort, const QString& device, SerialError::Kind refusal,
                    const QString& reason, const QString& group,
                    const QList<PortDescription>& comPorts);

// The same for a port whose opening failed with the errno `error`, looking
// at the device and the machine's ports for the rest.
QString openFailureText(int comPort, const QString& device, int error);

// The text when another program, `holder` ("1234 (minicom)"), holds the
// port's lock file `lockFile`.
QString lockedText(int comPort, const QString& device, const QString& holder,
                   const QString& lockFile);

// The text when something other than a lock file, `what` ("a named pipe
// (FIFO)"), sits where the port's lock file `lockFile` goes.
QString lockRefusedText(int comPort, const QString& device, const QString& lockFile,
                        const QString& what);

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "common/raised_error.h"
#include "serial/w32comms.h"

#include <QString>

// COM 1 to COM 4: the ports the serial control opens by number.
inline constexpr int kFirstComPort = 1;
inline constexpr int kLastComPort = 4;

// The serial control's error numbers, raised with its Name as the source, by
// the control itself and by the baud-rate routines.
enum CommError {
    InvalidPortNumber = 8002,
    PortAlreadyOpen = 8005,
    OpenFailed = 8010,
    NoDevice = 8012,
    RateRefused = 8015,
    PortNotOpen = 8018,
    PortLost = 8020,
    StateUnreadable = 8021,
};

// What the baud-rate routines need of a serial control.
class CommControl {
public:
    virtual ~CommControl() = default;
    virtual bool PortOpen() const = 0;
    virtual W32Comms::HANDLE CommID() const = 0;
    virtual QString Name() const = 0;
    // The line settings behind CommID were just written: a control that
    // paces its reads by the line speed reads it again.
    virtual void lineChanged() {}
};

// Raises 8018 unless `control`'s port is open.
inline void requirePortOpen(const CommControl& control) {
    if (!control.PortOpen())
        throw RaisedError(PortNotOpen, control.Name(),
                          QStringLiteral("Operation valid only when the port is open"));
}

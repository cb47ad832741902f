// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "serial/w32comms.h"

#include <QString>

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

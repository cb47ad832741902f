// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>
#include <optional>

// Decides when the serial control listens to the line and when it sleeps,
// so that a reply wakes the program once, not once per byte. It only
// reckons: it touches no device and reads no clock.
class Pacer {
public:
    enum class Woken { No, ByTimer, ByLine };

    struct PortState {
        qint64 waiting = 0; // bytes received and not yet read
        qint64 wanted = 1;  // bytes the reader waits for
        std::optional<double> sinceOutputMs;
        qint64 takenSinceOutput = 0; // bytes read since the last output
        double byteMs = 0;           // how long one byte takes on the line
        bool bunched = false;        // the line hands bytes over in bunches (a USB adapter)
        bool stalled = false;        // the last check found nothing new
        Woken by = Woken::No;
    };

    struct Plan {
        bool ready = false;  // enough is waiting: tell the reader
        bool listen = false; // wake on the line's next bytes
        int lookInMs = 0;    // else (and at the latest) check the line then
        bool operator==(const Plan&) const = default;
    };

    Plan plan(const PortState& line);
    // How much later than the line allows the far end's bytes last came.
    double lateMs() const { return lateMs_; }
    void forget() { lateMs_ = 0; }

private:
    double lateMs_ = 0;
};

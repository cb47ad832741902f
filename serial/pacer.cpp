// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/pacer.h"

#include <algorithm>
#include <cmath>

namespace {
// The longest the control goes without checking an open line that someone
// waits on, so that a lost device is noticed in time.
constexpr int kLookMs = 100;
// A USB adapter hands bytes over once a frame.
constexpr double kUsbFrameMs = 1;
// Later than this, bytes are not an answer the far end is always late with.
constexpr double kMaxLateMs = 30;
} // namespace

// The control never rewrites the driver's read threshold (on a USB adapter
// every such write is a transfer on the very line being read). Instead it
// ignores the line (no wake-up on incoming bytes) until the bytes wanted can
// have crossed it: not before the last of them could follow the last output,
// plus the delay the far end took last time, nor (on a line that delivers
// bytes as they come) before it could follow the bytes already here. Then it
// checks what has arrived; a check that found nothing new makes it wake on
// the next incoming byte instead: the far end paused, or an adapter holds
// the bytes back.
Pacer::Plan Pacer::plan(const PortState& line) {
    const double sinceOutputMs = line.sinceOutputMs.value_or(0);
    const double lastDueMs = double(line.takenSinceOutput + line.wanted - 1) * line.byteMs;
    if (line.waiting >= line.wanted) {
        // Slow to wait longer (bunches come late by chance), quick to
        // believe an earlier answer; a timed check that found everything
        // here came too late, by an unknown time.
        const double late = std::max(sinceOutputMs - lastDueMs, 0.0);
        if (line.by == Woken::ByLine && late <= kMaxLateMs)
            lateMs_ = late < lateMs_ ? late : lateMs_ + (late - lateMs_) / 8;
        else if (line.by == Woken::ByTimer && line.sinceOutputMs)
            lateMs_ = std::max(std::min(lateMs_, late) - line.byteMs - kUsbFrameMs, 0.0);
        return {true, false, 0};
    }
    double quietMs = line.sinceOutputMs ? lastDueMs + lateMs_ - line.byteMs - sinceOutputMs : 0;
    if (!line.bunched && !line.stalled)
        quietMs =
            std::max(quietMs, double(line.wanted - line.waiting - 1) * line.byteMs - kUsbFrameMs);
    const bool ignoreLine = quietMs >= 0.5;
    return {false, !ignoreLine, ignoreLine ? std::min(int(std::ceil(quietMs)), kLookMs) : kLookMs};
}

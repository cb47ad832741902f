// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/serial_device.h"

// Off unless asked for: only warnings and worse by default.
Q_LOGGING_CATEGORY(serialTrace, "carnovo.serial", QtWarningMsg)

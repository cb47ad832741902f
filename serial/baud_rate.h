#pragma once

#include "serial/comm_control.h"

#include <cstdint>

// Forces the open port's line speed through its device-control block; the
// serial control itself only knows the standard rates.
// Raises 8018 (port closed), 8021 (state unreadable) or 8015 (rate refused).
void SetBaudRate(CommControl& Com, const std::int32_t& baud);

// The open port's current line speed. Raises 8018 or 8021.
std::int32_t GetBaudRate(CommControl& Com);

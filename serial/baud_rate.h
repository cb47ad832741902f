// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "serial/comm_control.h"

#include <cstdint>

// The system calls the baud-rate routines make. Tests stand in for drivers
// that refuse or round a rate; a pseudo-terminal stores any rate.
struct CommStateCalls {
    W32Comms::BOOL (*get)(W32Comms::HANDLE, W32Comms::DCB&) = W32Comms::GetCommState;
    W32Comms::BOOL (*set)(W32Comms::HANDLE, const W32Comms::DCB&) = W32Comms::SetCommState;
};

// Forces the open port's line speed through its device-control block; the
// serial control itself only knows the standard rates. The rate the driver
// really runs must be within 2 % of `baud`.
// Raises 8018 (port closed), 8021 (state unreadable) or 8015 (rate refused or
// rounded away), leaving the port at its old rate.
void SetBaudRate(CommControl& Com, const std::int32_t& baud, const CommStateCalls& os = {});

// The open port's current line speed, as the driver reports it. Raises 8018 or 8021.
std::int32_t GetBaudRate(CommControl& Com, const CommStateCalls& os = {});

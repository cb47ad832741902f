// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

// Our own Win32-shaped layer over Linux termios2: the Windows serial
// functions the program is written against (the DCB record, GetCommState,
// SetCommState, GetTickCount), done with the kernel's termios2 and its speed
// fields, so that any integer rate, 8192 included, is set exactly. They are
// the only writes of the line settings.
namespace W32Comms {

using BOOL = int;
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using HANDLE = std::intptr_t;

enum : BYTE { NOPARITY = 0, ODDPARITY = 1, EVENPARITY = 2, MARKPARITY = 3, SPACEPARITY = 4 };
enum : BYTE { ONESTOPBIT = 0, ONE5STOPBITS = 1, TWOSTOPBITS = 2 };
enum : DWORD { RTS_CONTROL_DISABLE = 0, RTS_CONTROL_ENABLE = 1, RTS_CONTROL_HANDSHAKE = 2 };

// The Win32 device-control block, field for field.
struct DCB {
    DWORD DCBlength;
    DWORD BaudRate;
    DWORD fBinary : 1;
    DWORD fParity : 1;
    DWORD fOutxCtsFlow : 1;
    DWORD fOutxDsrFlow : 1;
    DWORD fDtrControl : 2;
    DWORD fDsrSensitivity : 1;
    DWORD fTXContinueOnXoff : 1;
    DWORD fOutX : 1;
    DWORD fInX : 1;
    DWORD fErrorChar : 1;
    DWORD fNull : 1;
    DWORD fRtsControl : 2;
    DWORD fAbortOnError : 1;
    DWORD fDummy2 : 17;
    WORD wReserved;
    WORD XonLim;
    WORD XoffLim;
    BYTE ByteSize;
    BYTE Parity;
    BYTE StopBits;
    char XonChar;
    char XoffChar;
    char ErrorChar;
    char EofChar;
    char EvtChar;
    WORD wReserved1;
};
static_assert(sizeof(DCB) == 28, "DCB must keep the Win32 layout");

// Fill `dcb` from the port's current line settings. Non-zero on success.
BOOL GetCommState(HANDLE hFile, DCB& dcb);
// Apply `dcb` to the port, on a raw line (Windows knows only binary ports).
// Non-zero on success; an invalid record, fBinary 0 among them, changes nothing.
BOOL SetCommState(HANDLE hFile, const DCB& dcb);
// Milliseconds of a monotonic clock: 64 bits, so it neither wraps nor overflows.
std::int64_t GetTickCount();

} // namespace W32Comms

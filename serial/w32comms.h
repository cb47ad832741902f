// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

// The Windows serial functions the program is written against: the DCB
// record, GetCommState, SetCommState and GetTickCount, each taking the
// handle of an open port (SerialDevice::handle). On Windows they are the
// system's own; on Linux our own layer does the same with the kernel's
// termios2 and its speed fields, so that any integer rate, 8192 included,
// is set exactly. They are the only writes of the line settings.
//
// Their constants (NOPARITY, ONESTOPBIT, ...) are macros on Windows: code
// for both systems names them without W32Comms:: in a function that says
// `using namespace W32Comms`.
#ifdef _WIN32
#include <windows.h>

namespace W32Comms {
using ::BOOL;
using ::BYTE;
using ::DCB;
using ::DWORD;
using ::HANDLE;
using ::WORD;

inline BOOL GetCommState(HANDLE hFile, DCB& dcb) {
    return ::GetCommState(hFile, &dcb);
}
inline BOOL SetCommState(HANDLE hFile, const DCB& dcb) {
    DCB copy = dcb; // the system's call takes a record it may write
    return ::SetCommState(hFile, &copy);
}
// Milliseconds since start-up: 64 bits, so it does not wrap after 49 days.
inline std::int64_t GetTickCount() {
    return static_cast<std::int64_t>(::GetTickCount64());
}
} // namespace W32Comms

#else

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

#endif

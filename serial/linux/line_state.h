// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The kernel's own termios and the BOTHER flag come from its headers;
// glibc's <termios.h> would clash with them, so it is not included here.
#include <asm/termbits.h>
#include <sys/ioctl.h>

// The line settings as the kernel keeps them. Any integer rate needs the
// record with speed fields: termios2, or where that is missing (powerpc)
// termios itself, which has them there.
#ifdef TCGETS2
using LineState = termios2;
inline constexpr unsigned long kReadLine = TCGETS2, kWriteLine = TCSETS2;
#else
using LineState = termios;
inline constexpr unsigned long kReadLine = TCGETS, kWriteLine = TCSETS;
#endif

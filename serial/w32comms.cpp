// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/w32comms.h"

#include "serial/linux/line_state.h"

#include <cerrno>
#include <ctime>

namespace W32Comms {
namespace {

bool read_termios(HANDLE hFile, LineState& tio) {
    return ioctl(static_cast<int>(hFile), kReadLine, &tio) == 0;
}

tcflag_t size_flag(BYTE byteSize) {
    switch (byteSize) {
    case 5:
        return CS5;
    case 6:
        return CS6;
    case 7:
        return CS7;
    default:
        return CS8;
    }
}

BYTE byte_size(tcflag_t cflag) {
    switch (cflag & CSIZE) {
    case CS5:
        return 5;
    case CS6:
        return 6;
    case CS7:
        return 7;
    default:
        return 8;
    }
}

BYTE parity(tcflag_t cflag) {
    if (!(cflag & PARENB))
        return NOPARITY;
    const bool odd = cflag & PARODD;
    if (cflag & CMSPAR)
        return odd ? MARKPARITY : SPACEPARITY;
    return odd ? ODDPARITY : EVENPARITY;
}

bool valid(const DCB& dcb) {
    return dcb.fBinary && dcb.BaudRate > 0 && dcb.BaudRate <= 0x7FFFFFFF && dcb.ByteSize >= 5 &&
           dcb.ByteSize <= 8 && dcb.Parity <= SPACEPARITY && dcb.StopBits <= TWOSTOPBITS;
}

} // namespace

BOOL GetCommState(HANDLE hFile, DCB& dcb) {
    LineState tio{};
    if (!read_termios(hFile, tio))
        return 0;
    dcb = DCB{};
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = tio.c_ospeed;
    dcb.fBinary = 1;
    dcb.fParity = (tio.c_iflag & INPCK) ? 1 : 0;
    dcb.fOutxCtsFlow = (tio.c_cflag & CRTSCTS) ? 1 : 0;
    dcb.fRtsControl = (tio.c_cflag & CRTSCTS) ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
    dcb.fOutX = (tio.c_iflag & IXON) ? 1 : 0;
    dcb.fInX = (tio.c_iflag & IXOFF) ? 1 : 0;
    dcb.ByteSize = byte_size(tio.c_cflag);
    dcb.Parity = parity(tio.c_cflag);
    dcb.StopBits = (tio.c_cflag & CSTOPB) ? TWOSTOPBITS : ONESTOPBIT;
    dcb.XonChar = static_cast<char>(tio.c_cc[VSTART]);
    dcb.XoffChar = static_cast<char>(tio.c_cc[VSTOP]);
    dcb.EofChar = static_cast<char>(tio.c_cc[VEOF]);
    return 1;
}

BOOL SetCommState(HANDLE hFile, const DCB& dcb) {
    LineState tio{};
    if (!read_termios(hFile, tio))
        return 0;
    if (!valid(dcb)) {
        errno = EINVAL;
        return 0;
    }
    // BOTHER in both the output and the input speed field: the rate is taken
    // from c_ospeed / c_ispeed as given, not from the table of standard rates.
    tio.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    tio.c_ospeed = tio.c_ispeed = dcb.BaudRate;

    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    tio.c_cflag |= size_flag(dcb.ByteSize);
    if (dcb.Parity != NOPARITY)
        tio.c_cflag |= PARENB;
    if (dcb.Parity == ODDPARITY || dcb.Parity == MARKPARITY)
        tio.c_cflag |= PARODD;
    if (dcb.Parity == MARKPARITY || dcb.Parity == SPACEPARITY)
        tio.c_cflag |= CMSPAR;
    if (dcb.StopBits != ONESTOPBIT)
        tio.c_cflag |= CSTOPB;
    if (dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE)
        tio.c_cflag |= CRTSCTS;

    tio.c_iflag &= ~(INPCK | IXON | IXOFF);
    if (dcb.fParity)
        tio.c_iflag |= INPCK;
    if (dcb.fOutX)
        tio.c_iflag |= IXON;
    if (dcb.fInX)
        tio.c_iflag |= IXOFF;
    tio.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
    tio.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);

    // A port is always binary, as on Windows: every byte passes unchanged,
    // nothing is echoed, and a read waits for one byte, never for a time.
    tio.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXANY);
    tio.c_oflag &= ~OPOST;
    tio.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag |= CREAD | CLOCAL;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;

    return ioctl(static_cast<int>(hFile), kWriteLine, &tio) == 0 ? 1 : 0;
}

std::int64_t GetTickCount() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

} // namespace W32Comms

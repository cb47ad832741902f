// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/baud_rate.h"

#include <cstdlib>

namespace {

RaisedError unreadable(const CommControl& Com) {
    return RaisedError(StateUnreadable, Com.Name(),
                       QStringLiteral("Could not read current state of the port"));
}

W32Comms::DCB read_state(const CommControl& Com, const CommStateCalls& os) {
    W32Comms::DCB dcb{};
    if (!os.get(Com.CommID(), dcb))
        throw unreadable(Com);
    return dcb;
}

// A 16550 UART runs 8228.6 for 8192 and works; a CP2102 runs 9600 and does not.
bool close_enough(W32Comms::DWORD actual, std::int32_t wanted) {
    return std::llabs(static_cast<long long>(actual) - wanted) * 100 <= 2LL * wanted;
}

} // namespace

void SetBaudRate(CommControl& Com, const std::int32_t& baud, const CommStateCalls& os) {
    requirePortOpen(Com);
    const W32Comms::DCB old = read_state(Com, os);
    W32Comms::DCB dcb = old;
    dcb.BaudRate = static_cast<W32Comms::DWORD>(baud);
    const QString refused = QStringLiteral("Could not set port to specified baud rate");
    if (!os.set(Com.CommID(), dcb))
        throw RaisedError(RateRefused, Com.Name(), refused);

    // Some drivers round a rate they cannot make and still report success:
    // what counts is the rate they report back.
    W32Comms::DCB chosen{};
    const bool readBack = os.get(Com.CommID(), chosen);
    if (readBack && close_enough(chosen.BaudRate, baud))
        return Com.lineChanged();
    os.set(Com.CommID(), old);
    Com.lineChanged();
    if (!readBack)
        throw unreadable(Com);
    throw RaisedError(
        RateRefused, Com.Name(), refused,
        QStringLiteral("The adapter chose %1 baud instead of %2.").arg(chosen.BaudRate).arg(baud));
}

std::int32_t GetBaudRate(CommControl& Com, const CommStateCalls& os) {
    requirePortOpen(Com);
    return static_cast<std::int32_t>(read_state(Com, os).BaudRate);
}

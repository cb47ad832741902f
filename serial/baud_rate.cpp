#include "serial/baud_rate.h"

#include "common/raised_error.h"

namespace {

void require_open(const CommControl& Com) {
    if (!Com.PortOpen())
        throw RaisedError(8018, Com.Name(),
                          QStringLiteral("Operation valid only when the port is open"));
}

W32Comms::DCB read_state(const CommControl& Com) {
    W32Comms::DCB dcb{};
    if (!W32Comms::GetCommState(Com.CommID(), dcb))
        throw RaisedError(8021, Com.Name(),
                          QStringLiteral("Could not read current state of the port"));
    return dcb;
}

} // namespace

void SetBaudRate(CommControl& Com, const std::int32_t& baud) {
    require_open(Com);
    W32Comms::DCB dcb = read_state(Com);
    dcb.BaudRate = static_cast<W32Comms::DWORD>(baud);
    if (baud <= 0 || !W32Comms::SetCommState(Com.CommID(), dcb))
        throw RaisedError(8015, Com.Name(),
                          QStringLiteral("Could not set port to specified baud rate"));
}

std::int32_t GetBaudRate(CommControl& Com) {
    require_open(Com);
    return static_cast<std::int32_t>(read_state(Com).BaudRate);
}

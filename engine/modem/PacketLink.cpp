#include "PacketLink.h"

namespace modem {

const char* ioStatusText(IoStatus status)
{
    switch (status) {
    case IoStatus::Ok: return "ok";
    case IoStatus::Timeout: return "timed out";
    case IoStatus::Closed: return "connection lost";
    case IoStatus::TooLarge: return "packet too large";
    case IoStatus::Error: return "link error";
    case IoStatus::FileError: return "file read error";
    }
    return "link error";
}

IoStatus sendTransfer(PacketLink& link, const void* data, size_t size, Clock::time_point deadline)
{
    const IoStatus status = link.send(data, size, deadline);
    if (status != IoStatus::Ok)
        return status;
    const size_t packet = link.maxPacketSize();
    if (packet > 0 && size > 0 && size % packet == 0)
        return link.send(nullptr, 0, deadline);
    return IoStatus::Ok;
}

} // namespace modem

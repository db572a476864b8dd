#include "ModelLink.h"

#include <cstring>

namespace modemdevice {

using modem::IoStatus;

ModelLink::ModelLink(ModuleModel& model, size_t maxPacketSize)
    : m_model(model)
    , m_maxPacketSize(maxPacketSize)
{
    m_model.connected([this](const std::string& packet) {
        m_incoming.push_back(packet);
        return true;
    });
}

IoStatus ModelLink::send(const void* data, size_t size, modem::Clock::time_point)
{
    if (m_closed) {
        m_lastError = "the module left the bus";
        return IoStatus::Closed;
    }
    if (m_stalled) {
        m_lastError = "the module stopped reading";
        return IoStatus::Timeout;
    }
    ++m_packetsSent;
    const auto next = m_model.receive(static_cast<const char*>(data), size, [this](const std::string& packet) {
        m_incoming.push_back(packet);
        return true;
    });
    if (next == ModuleModel::Next::Stall) {
        m_stalled = true;
        m_lastError = "the module stopped reading";
        return IoStatus::Timeout;
    }
    if (next == ModuleModel::Next::Drop) {
        m_closed = true;
        m_lastError = "the module left the bus";
        return IoStatus::Closed;
    }
    if (next == ModuleModel::Next::Disconnect)
        m_closed = true;
    return IoStatus::Ok;
}

IoStatus ModelLink::receive(void* buffer, size_t capacity, size_t* size, modem::Clock::time_point)
{
    if (m_incoming.empty()) {
        m_lastError = m_closed ? "the module left the bus" : "no answer from the module";
        return m_closed ? IoStatus::Closed : IoStatus::Timeout;
    }
    const std::string packet = std::move(m_incoming.front());
    m_incoming.pop_front();
    if (packet.size() > capacity) {
        m_lastError = "packet larger than the buffer";
        return IoStatus::TooLarge;
    }
    std::memcpy(buffer, packet.data(), packet.size());
    *size = packet.size();
    return IoStatus::Ok;
}

} // namespace modemdevice

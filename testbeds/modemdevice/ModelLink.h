#pragma once

#include "ModuleModel.h"
#include "PacketLink.h"

#include <deque>
#include <string>

namespace modemdevice {

// A PacketLink straight into a ModuleModel in the same thread: what the
// host sends is handed to the model at once, and the model's answers wait
// in a queue for receive. Nothing here waits: an empty queue is a timeout at
// once, so tests of silent or hung modules take no time.
class ModelLink final : public modem::PacketLink
{
public:
    explicit ModelLink(ModuleModel& model, size_t maxPacketSize = 512);

    modem::IoStatus send(const void* data, size_t size, modem::Clock::time_point deadline) override;
    modem::IoStatus receive(void* buffer, size_t capacity, size_t* size, modem::Clock::time_point deadline) override;
    size_t maxPacketSize() const override { return m_maxPacketSize; }
    std::string lastError() const override { return m_lastError; }

    // Packets sent so far, zero-length ones included.
    int packetsSent() const { return m_packetsSent; }
    bool closed() const { return m_closed; }

private:
    ModuleModel& m_model;
    size_t m_maxPacketSize;
    std::deque<std::string> m_incoming;
    bool m_stalled = false;
    bool m_closed = false;
    int m_packetsSent = 0;
    std::string m_lastError;
};

} // namespace modemdevice

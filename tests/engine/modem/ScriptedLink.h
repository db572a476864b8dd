#pragma once

#include "PacketLink.h"

#include <cstring>
#include <deque>
#include <string>
#include <vector>

// A PacketLink that plays back packets queued by the test and records what
// the host sent. An empty queue is a timeout at once.
class ScriptedLink final : public modem::PacketLink
{
public:
    explicit ScriptedLink(size_t maxPacketSize = 0)
        : m_maxPacketSize(maxPacketSize)
    {
    }

    void queue(const std::string& packet) { m_incoming.push_back(packet); }
    // After this many sends, every send times out.
    void stallAfter(int sends) { m_stallAfter = sends; }

    modem::IoStatus send(const void* data, size_t size, modem::Clock::time_point) override
    {
        if (m_stallAfter >= 0 && int(sent.size()) >= m_stallAfter)
            return modem::IoStatus::Timeout;
        sent.emplace_back(static_cast<const char*>(data), size);
        return modem::IoStatus::Ok;
    }

    modem::IoStatus receive(void* buffer, size_t capacity, size_t* size, modem::Clock::time_point) override
    {
        if (m_incoming.empty())
            return modem::IoStatus::Timeout;
        const std::string packet = m_incoming.front();
        m_incoming.pop_front();
        if (packet.size() > capacity)
            return modem::IoStatus::TooLarge;
        std::memcpy(buffer, packet.data(), packet.size());
        *size = packet.size();
        return modem::IoStatus::Ok;
    }

    size_t maxPacketSize() const override { return m_maxPacketSize; }
    std::string lastError() const override { return {}; }

    std::vector<std::string> sent;

private:
    size_t m_maxPacketSize;
    int m_stallAfter = -1;
    std::deque<std::string> m_incoming;
};

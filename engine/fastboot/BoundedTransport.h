#pragma once

#include "Transport.h"

#include <algorithm>

namespace fastboot {

// A transport whose calls all end by one overall deadline, however long each
// caller would wait: the presence monitor's identity read is bounded as a
// whole.
class BoundedTransport final : public Transport
{
public:
    BoundedTransport(Transport& link, Clock::time_point deadline) : m_link(link), m_deadline(deadline) {}

    IoStatus send(const void* data, size_t size, Clock::time_point deadline) override
    {
        return m_link.send(data, size, std::min(deadline, m_deadline));
    }
    IoStatus receive(void* buffer, size_t capacity, size_t* size, Clock::time_point deadline) override
    {
        return m_link.receive(buffer, capacity, size, std::min(deadline, m_deadline));
    }
    std::string lastError() const override { return m_link.lastError(); }

private:
    Transport& m_link;
    Clock::time_point m_deadline;
};

} // namespace fastboot

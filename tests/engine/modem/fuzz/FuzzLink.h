#pragma once

#include "PacketLink.h"

#include <cstdint>
#include <cstring>

// A PacketLink whose incoming packets come from fuzz input: each packet is
// a two-byte little-endian length and that many bytes. Sends always work;
// when the input is used up every receive times out.
class FuzzLink final : public modem::PacketLink
{
public:
    FuzzLink(const uint8_t* data, size_t size, size_t maxPacketSize)
        : m_data(data)
        , m_size(size)
        , m_maxPacketSize(maxPacketSize)
    {
    }

    modem::IoStatus send(const void*, size_t, modem::Clock::time_point) override { return modem::IoStatus::Ok; }

    modem::IoStatus receive(void* buffer, size_t capacity, size_t* size, modem::Clock::time_point) override
    {
        if (m_size - m_at < 2)
            return modem::IoStatus::Timeout;
        size_t length = size_t(m_data[m_at]) | size_t(m_data[m_at + 1]) << 8;
        m_at += 2;
        length = length < m_size - m_at ? length : m_size - m_at;
        const uint8_t* packet = m_data + m_at;
        m_at += length;
        if (length > capacity)
            return modem::IoStatus::TooLarge;
        std::memcpy(buffer, packet, length);
        *size = length;
        return modem::IoStatus::Ok;
    }

    size_t maxPacketSize() const override { return m_maxPacketSize; }
    std::string lastError() const override { return {}; }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_at = 0;
    size_t m_maxPacketSize;
};

#pragma once

#include "IoStatus.h"

#include <chrono>
#include <cstddef>
#include <string>

namespace modem {

using engine::Clock;
using engine::IoStatus;

const char* ioStatusText(IoStatus status);

// The link a module is spoken to over: packets in both directions, each call
// bounded by a deadline. Over USB a packet is one bulk transfer; on an AT tty
// it is whatever one read returned (the AT code does its own framing).
class PacketLink
{
public:
    virtual ~PacketLink() = default;

    // Sends one packet; size 0 sends a zero-length packet.
    virtual IoStatus send(const void* data, size_t size, Clock::time_point deadline) = 0;
    // Receives one packet of at most capacity bytes; its size goes to *size.
    virtual IoStatus receive(void* buffer, size_t capacity, size_t* size, Clock::time_point deadline) = 0;
    // The bulk OUT endpoint's packet size; 0 where the link has no packets
    // of its own (a stream), so no zero-length packets are needed.
    virtual size_t maxPacketSize() const = 0;
    // What the last failed call saw, for messages.
    virtual std::string lastError() const = 0;
};

// Sends one transfer and, when it fills a whole number of the endpoint's
// packets, the zero-length packet that tells the device it has ended.
IoStatus sendTransfer(PacketLink& link, const void* data, size_t size, Clock::time_point deadline);

} // namespace modem

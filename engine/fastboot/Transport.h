#pragma once

#include "IoStatus.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fastboot {

using engine::Clock;
using engine::IoStatus;

// A stretch of a packet: size bytes in memory at data, or, when data is
// null, size bytes of the open file fd from offset.
struct Chunk
{
    const char* data = nullptr;
    int fd = -1;
    uint64_t offset = 0; // in the file
    size_t size = 0;
};

// The byte link the fastboot protocol runs over: packets in both directions,
// as the protocol defines them. Over USB a packet is one bulk transfer; over
// TCP it is one length-prefixed frame. Commands and replies are single
// packets; download data goes as any number of packets. Every call has a
// deadline and never blocks past it.
class Transport
{
public:
    virtual ~Transport() = default;

    // Sends one packet.
    virtual IoStatus send(const void* data, size_t size, Clock::time_point deadline) = 0;
    // Sends one packet of size bytes made of the chunks in order, file
    // stretches straight from the file. Only for transports that say
    // sendsFromFiles(); the others are given whole packets through send().
    virtual IoStatus sendChunks(const std::vector<Chunk>& chunks, size_t size, Clock::time_point deadline)
    {
        (void)chunks, (void)size, (void)deadline;
        return IoStatus::Error;
    }
    virtual bool sendsFromFiles() const { return false; }
    // Receives one packet of at most capacity bytes; its size goes to *size.
    virtual IoStatus receive(void* buffer, size_t capacity, size_t* size, Clock::time_point deadline) = 0;
    // What the last failed call saw, for messages ("Connection reset by peer").
    virtual std::string lastError() const = 0;
    // The caller's reboot command was accepted: the device leaves now.
    virtual void rebooting() {}
};

} // namespace fastboot

#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace fastboot {

using Clock = std::chrono::steady_clock;

// How one transfer ended.
enum class IoStatus {
    Ok,
    Timeout,  // nothing moved before the deadline
    Closed,   // the other side went away (connection lost, device gone)
    TooLarge, // a received packet did not fit the buffer
    Error,    // any other failure of the link
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
    // Receives one packet of at most capacity bytes; its size goes to *size.
    virtual IoStatus receive(void* buffer, size_t capacity, size_t* size, Clock::time_point deadline) = 0;
    // What the last failed call saw, for messages ("Connection reset by peer").
    virtual std::string lastError() const = 0;
    // The caller's reboot command was accepted: the device leaves now.
    virtual void rebooting() {}
};

} // namespace fastboot

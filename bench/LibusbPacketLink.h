#pragma once

#include "PacketLink.h"

#include <string>

struct libusb_context;
struct libusb_device_handle;

// A PacketLink over plain synchronous libusb bulk transfers to interface 0
// of one device (bulk IN 0x81, OUT 0x01), for measuring the protocol core on
// the emulated hub without an engine around it.
class LibusbPacketLink final : public modem::PacketLink
{
public:
    LibusbPacketLink() = default;
    ~LibusbPacketLink() override;
    LibusbPacketLink(const LibusbPacketLink&) = delete;
    LibusbPacketLink& operator=(const LibusbPacketLink&) = delete;

    // Opens the device at that bus and address and claims interface 0.
    bool open(int bus, int address, std::string* why);

    modem::IoStatus send(const void* data, size_t size, modem::Clock::time_point deadline) override;
    modem::IoStatus receive(void* buffer, size_t capacity, size_t* size, modem::Clock::time_point deadline) override;
    size_t maxPacketSize() const override { return 512; }
    std::string lastError() const override { return m_lastError; }

private:
    modem::IoStatus status(int result);

    libusb_context* m_context = nullptr;
    libusb_device_handle* m_handle = nullptr;
    std::string m_lastError;
};

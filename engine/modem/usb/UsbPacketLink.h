#pragma once

#include "PacketLink.h"
#include "UsbBus.h"

#include <memory>
#include <string>

struct libusb_device_handle;

namespace modem {

// A chip in download mode as a PacketLink: one bulk OUT transfer per packet
// sent (a zero-length one for size 0), one bulk IN transfer per packet
// received, each with the caller's deadline as its timeout. The interface
// is claimed (any kernel driver detached) while the link lives.
class UsbPacketLink final : public PacketLink
{
public:
    // Opens the device the bus found (a chip in download mode) and claims
    // its vendor interface with a bulk pair.
    static std::unique_ptr<UsbPacketLink> open(usb::UsbBus& bus, const usb::UsbDeviceInfo& device, std::string* why);
    ~UsbPacketLink() override;
    UsbPacketLink(const UsbPacketLink&) = delete;
    UsbPacketLink& operator=(const UsbPacketLink&) = delete;

    IoStatus send(const void* data, size_t size, Clock::time_point deadline) override;
    IoStatus receive(void* buffer, size_t capacity, size_t* size, Clock::time_point deadline) override;
    size_t maxPacketSize() const override { return m_packetSize; }
    std::string lastError() const override { return m_error; }

private:
    UsbPacketLink(libusb_device_handle* handle, int interface, uint8_t in, uint8_t out, size_t packetSize);
    IoStatus failed(int rc);

    libusb_device_handle* m_handle;
    int m_interface;
    uint8_t m_in;
    uint8_t m_out;
    size_t m_packetSize;
    std::string m_error;
    std::string m_room; // an IN transfer takes whole packets
};

} // namespace modem

#pragma once

#include "Transport.h"
#include "FastbootUsb.h"

#include <memory>
#include <string>

struct libusb_device_handle;

namespace fastboot {

class UsbBulkWriter;

// Fastboot over USB: one bulk OUT transfer per packet sent, one bulk IN
// transfer per packet received, each with the caller's deadline as its
// timeout. The fastboot interface is claimed while the transport lives and
// released when it goes; the kernel lets one program at a time claim it, so
// two hosts never drive one device.
class UsbTransport final : public Transport
{
public:
    // Why open failed, beside the text for the operator.
    enum class OpenError { None, NoDevice, Permission, Busy, Other };

    // Waits until the deadline for a fastboot device in the socket (whatever
    // its address), opens it and claims its interface. Null with *why set on
    // failure; *kind, when given, tells which.
    static std::unique_ptr<UsbTransport> open(UsbBus& bus, const UsbLocation& socket,
                                              Clock::time_point deadline, std::string* why,
                                              OpenError* kind = nullptr);
    ~UsbTransport() override;
    UsbTransport(const UsbTransport&) = delete;
    UsbTransport& operator=(const UsbTransport&) = delete;

    IoStatus send(const void* data, size_t size, Clock::time_point deadline) override;
    IoStatus receive(void* buffer, size_t capacity, size_t* size, Clock::time_point deadline) override;
    // Download data as asynchronous transfers, several in flight, file
    // stretches from a mapping of the file (UsbBulkWriter).
    IoStatus sendChunks(const std::vector<Chunk>& chunks, size_t size, Clock::time_point deadline) override;
    bool sendsFromFiles() const override { return true; }
    std::string lastError() const override { return m_error; }
    // The device was told to reboot: the next open in its socket waits for
    // its next enumeration.
    void rebooting() override;

    // The operator's texts for the two failures a station fixes by hand.
    static std::string permissionText(const UsbLocation& socket);
    static std::string busyText(const UsbLocation& socket);

private:
    UsbTransport(libusb_device_handle* handle, const UsbDeviceInfo& device, UsbBus& bus);
    IoStatus failed(int rc);

    libusb_device_handle* m_handle;
    UsbDeviceInfo m_device;
    UsbBus& m_bus;
    std::string m_error;
    std::unique_ptr<UsbBulkWriter> m_writer;
};

} // namespace fastboot

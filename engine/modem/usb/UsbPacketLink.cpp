#include "UsbPacketLink.h"

#include "UsbStatus.h"

#include <libusb.h>

#include <algorithm>
#include <climits>
#include <cstring>

namespace modem {

namespace {

// libusb takes its timeout in whole milliseconds, and 0 means "for ever".
unsigned int timeoutUntil(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<unsigned int>(std::clamp<long long>(left, 1, INT_MAX));
}

// One bulk transfer carries at most this much; larger sends are split.
constexpr size_t kMaxTransfer = 16u * 1024 * 1024;

struct BulkInterface
{
    int number = -1;
    uint8_t in = 0;
    uint8_t out = 0;
    size_t packetSize = 512;
};

// The first vendor-specific interface with a bulk endpoint each way.
BulkInterface findBulkInterface(libusb_device* device)
{
    BulkInterface found;
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_active_config_descriptor(device, &config) != 0
        && libusb_get_config_descriptor(device, 0, &config) != 0)
        return found;
    for (int i = 0; i < config->bNumInterfaces && found.number < 0; ++i) {
        const libusb_interface& interface = config->interface[i];
        for (int a = 0; a < interface.num_altsetting && found.number < 0; ++a) {
            const libusb_interface_descriptor& alt = interface.altsetting[a];
            if (alt.bInterfaceClass != LIBUSB_CLASS_VENDOR_SPEC)
                continue;
            BulkInterface candidate;
            for (int e = 0; e < alt.bNumEndpoints; ++e) {
                const libusb_endpoint_descriptor& ep = alt.endpoint[e];
                if ((ep.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) != LIBUSB_TRANSFER_TYPE_BULK)
                    continue;
                if ((ep.bEndpointAddress & LIBUSB_ENDPOINT_IN) && candidate.in == 0)
                    candidate.in = ep.bEndpointAddress;
                if (!(ep.bEndpointAddress & LIBUSB_ENDPOINT_IN) && candidate.out == 0) {
                    candidate.out = ep.bEndpointAddress;
                    candidate.packetSize = std::max<size_t>(ep.wMaxPacketSize & 0x7ff, 8);
                }
            }
            if (candidate.in != 0 && candidate.out != 0) {
                candidate.number = alt.bInterfaceNumber;
                found = candidate;
            }
        }
    }
    libusb_free_config_descriptor(config);
    return found;
}

} // namespace

std::unique_ptr<UsbPacketLink> UsbPacketLink::open(usb::UsbBus& bus, const usb::UsbDeviceInfo& device, std::string* why)
{
    const usb::UsbLocation& socket = device.socket;
    libusb_device** list = nullptr;
    const ssize_t n = libusb_get_device_list(bus.context(), &list);
    libusb_device* match = nullptr;
    for (ssize_t i = 0; i < n && !match; ++i) {
        if (libusb_get_bus_number(list[i]) == device.location.bus()
            && libusb_get_device_address(list[i]) == device.address)
            match = list[i];
    }
    BulkInterface bulk;
    libusb_device_handle* handle = nullptr;
    int rc = LIBUSB_ERROR_NO_DEVICE;
    if (match) {
        bulk = findBulkInterface(match);
        rc = bulk.number < 0 ? LIBUSB_ERROR_NOT_SUPPORTED : libusb_open(match, &handle);
    }
    if (n >= 0)
        libusb_free_device_list(list, 1);
    if (rc == LIBUSB_ERROR_NOT_SUPPORTED) {
        *why = "the device in USB socket " + socket.text() + " has no vendor interface with bulk endpoints";
        return nullptr;
    }
    if (rc == LIBUSB_ERROR_ACCESS) {
        *why = "no permission to open the USB device at " + socket.text()
            + ": install the station's udev rule (res/udev) and plug the module in again";
        return nullptr;
    }
    if (rc != 0) {
        *why = "cannot open the USB device at " + socket.text() + ": " + libusb_strerror(rc);
        return nullptr;
    }
    // A kernel driver (qcserial, option) bound to the interface would keep
    // the claim from working.
    libusb_set_auto_detach_kernel_driver(handle, 1);
    const int claimed = libusb_claim_interface(handle, bulk.number);
    if (claimed != 0) {
        libusb_close(handle);
        *why = claimed == LIBUSB_ERROR_BUSY
            ? "the USB device at " + socket.text() + " is in use by another program; close it and start again"
            : "cannot claim the download interface at " + socket.text() + ": " + libusb_strerror(claimed);
        return nullptr;
    }
    return std::unique_ptr<UsbPacketLink>(new UsbPacketLink(handle, bulk.number, bulk.in, bulk.out, bulk.packetSize));
}

UsbPacketLink::UsbPacketLink(libusb_device_handle* handle, int interface, uint8_t in, uint8_t out, size_t packetSize)
    : m_handle(handle)
    , m_interface(interface)
    , m_in(in)
    , m_out(out)
    , m_packetSize(packetSize)
{
}

UsbPacketLink::~UsbPacketLink()
{
    libusb_release_interface(m_handle, m_interface);
    libusb_close(m_handle);
}

IoStatus UsbPacketLink::send(const void* data, size_t size, Clock::time_point deadline)
{
    auto* bytes = static_cast<unsigned char*>(const_cast<void*>(data));
    size_t done = 0;
    do { // a zero-length packet is still one transfer
        const int chunk = int(std::min(size - done, kMaxTransfer));
        int moved = 0;
        const int rc = libusb_bulk_transfer(m_handle, m_out, chunk ? bytes + done : nullptr, chunk, &moved,
                                            timeoutUntil(deadline));
        if (rc != 0)
            return failed(rc);
        if (moved != chunk) {
            m_error = "short USB transfer: " + std::to_string(moved) + " of " + std::to_string(chunk) + " bytes";
            return IoStatus::Closed;
        }
        done += size_t(moved);
    } while (done < size);
    return IoStatus::Ok;
}

IoStatus UsbPacketLink::receive(void* buffer, size_t capacity, size_t* size, Clock::time_point deadline)
{
    // Straight into the caller's buffer when it holds whole packets; else
    // through room for whole packets, so a longer packet is seen, not lost.
    const bool direct = capacity >= m_packetSize && capacity % m_packetSize == 0;
    unsigned char* target = static_cast<unsigned char*>(buffer);
    size_t length = capacity;
    if (!direct) {
        length = (capacity / m_packetSize + 1) * m_packetSize;
        m_room.resize(length);
        target = reinterpret_cast<unsigned char*>(m_room.data());
    }
    int moved = 0;
    const int rc = libusb_bulk_transfer(m_handle, m_in, target, int(std::min(length, size_t(INT_MAX))), &moved,
                                        timeoutUntil(deadline));
    if (rc != 0)
        return failed(rc);
    if (size_t(moved) > capacity) {
        m_error = "a USB packet of " + std::to_string(moved) + " bytes";
        return IoStatus::TooLarge;
    }
    if (!direct)
        std::memcpy(buffer, target, size_t(moved));
    *size = size_t(moved);
    return IoStatus::Ok;
}

IoStatus UsbPacketLink::failed(int rc)
{
    return usb::transferStatus(rc, &m_error);
}

} // namespace modem

#include "UsbTransport.h"

#include "UsbBulkWriter.h"
#include "UsbStatus.h"

#include <libusb.h>

#include <algorithm>
#include <climits>
#include <vector>

namespace fastboot {

namespace {

// libusb takes its timeout in whole milliseconds, and 0 means "for ever".
unsigned int timeoutUntil(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<unsigned int>(std::clamp<long long>(left, 1, INT_MAX));
}

// Replies are short, but an IN transfer must take whole packets: a buffer
// smaller than the device's packet would overflow on a long reply.
constexpr size_t kReceiveRoom = 1024;
// One bulk transfer carries at most this much; larger sends are split.
constexpr size_t kMaxTransfer = 16u * 1024 * 1024;

} // namespace

std::string UsbTransport::permissionText(const UsbLocation& socket)
{
    return "No permission to open the USB device at " + socket.text()
        + ". Install the udev rule 70-station-fastboot.rules (sudo cmake --install, or copy it from res/udev to "
          "/etc/udev/rules.d and run \"sudo udevadm control --reload\"), then plug the device in again.";
}

std::string UsbTransport::busyText(const UsbLocation& socket)
{
    return "The USB device at " + socket.text()
        + " is in use by another program (another station or a fastboot command). Close that program and start "
          "the line again.";
}

std::unique_ptr<UsbTransport> UsbTransport::open(UsbBus& bus, const UsbLocation& socket,
                                                 Clock::time_point deadline, std::string* why, OpenError* kind)
{
    const auto fail = [&](OpenError error, std::string text) -> std::unique_ptr<UsbTransport> {
        if (kind)
            *kind = error;
        if (why)
            *why = std::move(text);
        return nullptr;
    };
    const auto device = bus.waitFor(socket, deadline, [&](const UsbDeviceInfo& d) {
        return d.hasInterface && d.address != bus.leavingAddress(socket);
    });
    if (!device)
        return fail(OpenError::NoDevice, "no fastboot device in USB socket " + socket.text());

    libusb_device** list = nullptr;
    const ssize_t n = libusb_get_device_list(bus.context(), &list);
    libusb_device* match = nullptr;
    for (ssize_t i = 0; i < n && !match; ++i) {
        if (libusb_get_bus_number(list[i]) == device->location.bus()
            && libusb_get_device_address(list[i]) == device->address)
            match = list[i];
    }
    libusb_device_handle* handle = nullptr;
    const int rc = match ? libusb_open(match, &handle) : LIBUSB_ERROR_NO_DEVICE;
    if (n >= 0)
        libusb_free_device_list(list, 1);
    if (rc == LIBUSB_ERROR_ACCESS)
        return fail(OpenError::Permission, permissionText(socket));
    if (rc == LIBUSB_ERROR_NO_DEVICE || rc == LIBUSB_ERROR_NOT_FOUND)
        return fail(OpenError::NoDevice, "the device in USB socket " + socket.text() + " went away");
    if (rc != 0)
        return fail(OpenError::Other, "cannot open the USB device at " + socket.text() + ": " + libusb_strerror(rc));

    const int claimed = libusb_claim_interface(handle, device->interface);
    if (claimed != 0) {
        libusb_close(handle);
        if (claimed == LIBUSB_ERROR_BUSY)
            return fail(OpenError::Busy, busyText(socket));
        if (claimed == LIBUSB_ERROR_NO_DEVICE)
            return fail(OpenError::NoDevice, "the device in USB socket " + socket.text() + " went away");
        return fail(OpenError::Other,
                    "cannot claim the fastboot interface at " + socket.text() + ": " + libusb_strerror(claimed));
    }
    if (kind)
        *kind = OpenError::None;
    return std::unique_ptr<UsbTransport>(new UsbTransport(handle, *device, bus));
}

UsbTransport::UsbTransport(libusb_device_handle* handle, const UsbDeviceInfo& device, UsbBus& bus)
    : m_handle(handle)
    , m_device(device)
    , m_bus(bus)
{
}

UsbTransport::~UsbTransport()
{
    m_writer.reset(); // no transfer of it is in flight between calls
    libusb_release_interface(m_handle, m_device.interface);
    libusb_close(m_handle);
}

IoStatus UsbTransport::send(const void* data, size_t size, Clock::time_point deadline)
{
    const auto* bytes = static_cast<const unsigned char*>(data);
    size_t done = 0;
    // A zero-length packet is still one transfer.
    do {
        const int chunk = static_cast<int>(std::min(size - done, kMaxTransfer));
        int moved = 0;
        const int rc = libusb_bulk_transfer(m_handle, m_device.endpointOut, const_cast<unsigned char*>(bytes + done),
                                            chunk, &moved, timeoutUntil(deadline));
        if (rc != 0)
            return failed(rc);
        if (moved != chunk) {
            m_error = "short USB transfer: " + std::to_string(moved) + " of " + std::to_string(chunk) + " bytes";
            return IoStatus::Closed;
        }
        done += static_cast<size_t>(moved);
    } while (done < size);
    return IoStatus::Ok;
}

void UsbTransport::rebooting()
{
    // It leaves the bus and comes back at a new address.
    m_bus.markLeaving(m_device.socket, m_device.address);
}

IoStatus UsbTransport::sendChunks(const std::vector<Chunk>& chunks, size_t size, Clock::time_point deadline)
{
    if (!m_writer)
        m_writer = std::make_unique<UsbBulkWriter>(m_handle, m_device.endpointOut);
    return m_writer->write(chunks, size, deadline, &m_error);
}

IoStatus UsbTransport::receive(void* buffer, size_t capacity, size_t* size, Clock::time_point deadline)
{
    std::vector<unsigned char> room(std::max(capacity, kReceiveRoom));
    int moved = 0;
    const int rc = libusb_bulk_transfer(m_handle, m_device.endpointIn, room.data(), static_cast<int>(room.size()),
                                        &moved, timeoutUntil(deadline));
    if (rc != 0)
        return failed(rc);
    if (static_cast<size_t>(moved) > capacity) {
        m_error = "a USB packet of " + std::to_string(moved) + " bytes";
        return IoStatus::TooLarge;
    }
    std::copy_n(room.data(), moved, static_cast<unsigned char*>(buffer));
    *size = static_cast<size_t>(moved);
    return IoStatus::Ok;
}

IoStatus UsbTransport::failed(int rc)
{
    return usb::transferStatus(rc, &m_error);
}

} // namespace fastboot

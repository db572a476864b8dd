#include "LibusbPacketLink.h"

#include <libusb.h>

#include <algorithm>

namespace {

unsigned timeoutMs(modem::Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - modem::Clock::now()).count();
    return unsigned(std::max<long long>(left, 1)); // 0 would mean no timeout at all
}

} // namespace

LibusbPacketLink::~LibusbPacketLink()
{
    if (m_handle) {
        libusb_release_interface(m_handle, 0);
        libusb_close(m_handle);
    }
    if (m_context)
        libusb_exit(m_context);
}

bool LibusbPacketLink::open(int bus, int address, std::string* why)
{
    if (libusb_init(&m_context) != 0) {
        m_context = nullptr;
        *why = "libusb_init failed";
        return false;
    }
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(m_context, &list);
    for (ssize_t i = 0; i < count && !m_handle; ++i) {
        if (libusb_get_bus_number(list[i]) == bus && libusb_get_device_address(list[i]) == address
            && libusb_open(list[i], &m_handle) != 0)
            m_handle = nullptr;
    }
    if (count >= 0)
        libusb_free_device_list(list, 1);
    if (!m_handle) {
        *why = "no device at " + std::to_string(bus) + ":" + std::to_string(address);
        return false;
    }
    const int claimed = libusb_claim_interface(m_handle, 0);
    if (claimed != 0) {
        *why = std::string("claim: ") + libusb_error_name(claimed);
        return false;
    }
    return true;
}

modem::IoStatus LibusbPacketLink::status(int result)
{
    m_lastError = libusb_error_name(result);
    switch (result) {
    case LIBUSB_SUCCESS: return modem::IoStatus::Ok;
    case LIBUSB_ERROR_TIMEOUT: return modem::IoStatus::Timeout;
    case LIBUSB_ERROR_NO_DEVICE: return modem::IoStatus::Closed;
    case LIBUSB_ERROR_OVERFLOW: return modem::IoStatus::TooLarge;
    default: return modem::IoStatus::Error;
    }
}

modem::IoStatus LibusbPacketLink::send(const void* data, size_t size, modem::Clock::time_point deadline)
{
    int moved = 0;
    const int result = libusb_bulk_transfer(m_handle, 0x01, static_cast<unsigned char*>(const_cast<void*>(data)),
                                            int(size), &moved, timeoutMs(deadline));
    if (result == 0 && size_t(moved) != size)
        return status(LIBUSB_ERROR_IO);
    return status(result);
}

modem::IoStatus LibusbPacketLink::receive(void* buffer, size_t capacity, size_t* size,
                                          modem::Clock::time_point deadline)
{
    int moved = 0;
    const int result = libusb_bulk_transfer(m_handle, 0x81, static_cast<unsigned char*>(buffer), int(capacity),
                                            &moved, timeoutMs(deadline));
    *size = size_t(moved);
    return status(result);
}

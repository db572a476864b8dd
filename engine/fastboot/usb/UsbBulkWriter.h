#pragma once

#include "Transport.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

struct libusb_device_handle;
struct libusb_transfer;

namespace fastboot {

// Sends download data to a bulk OUT endpoint as asynchronous transfers, up
// to kInFlight at a time, so that the bus never waits for the host between
// two transfers. File stretches go from a read-only mapping of the file:
// the kernel copies them into its URB memory, the engine never does. Small
// memory stretches (sparse headers, fills) are gathered with the bytes that
// follow them into a staging buffer, so that every transfer but the last of
// a packet is full size and a device never sees a short transfer in the
// middle of its data. Completions come on the bus's event thread.
//
// Memory of one writer: kInFlight staging buffers of at most kTransfer
// bytes, and as much usbfs memory in the kernel.
class UsbBulkWriter final
{
public:
    static constexpr int kInFlight = 3;
    static constexpr size_t kTransfer = 512 * 1024;
    // The usbfs memory limit (16 MiB by default, shared by every program
    // and device) can refuse a transfer: the size halves down to this.
    static constexpr size_t kMinTransfer = 16 * 1024;

    UsbBulkWriter(libusb_device_handle* handle, uint8_t endpoint);
    ~UsbBulkWriter();
    UsbBulkWriter(const UsbBulkWriter&) = delete;
    UsbBulkWriter& operator=(const UsbBulkWriter&) = delete;

    // Sends the chunks' size bytes in order. On a failure the transfers
    // still in flight are cancelled and waited for; *error says why.
    IoStatus write(const std::vector<Chunk>& chunks, size_t size, Clock::time_point deadline, std::string* error);

    // The transfer size now in use (smaller after the kernel refused memory).
    size_t transferSize() const { return m_transferSize; }

private:
    struct Slot
    {
        libusb_transfer* transfer = nullptr;
        std::vector<unsigned char> staging;
        bool busy = false;
        bool done = false;
    };
    class Cursor;

    static void onDone(libusb_transfer* transfer);
    IoStatus submitNext(Slot& slot, Cursor& cursor, Clock::time_point deadline, std::string* error);
    IoStatus finished(Slot& slot, std::string* error);
    void cancelAll(std::unique_lock<std::mutex>& lock);

    libusb_device_handle* m_handle;
    uint8_t m_endpoint;
    size_t m_transferSize = kTransfer;
    Slot m_slots[kInFlight];
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_inFlight = 0; // guarded by m_mutex
};

} // namespace fastboot

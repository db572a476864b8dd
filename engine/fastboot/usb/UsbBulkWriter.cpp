#include "UsbBulkWriter.h"

#include "core/InputFile.h"

#include <libusb.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fastboot {

namespace {

unsigned int timeoutUntil(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<unsigned int>(std::clamp<long long>(left, 1, INT_MAX));
}

// libusb ends every transfer at its timeout; this is only a guard against
// a completion that never comes.
constexpr auto kGrace = std::chrono::seconds(5);

} // namespace

// Where in the packet the next transfer starts; maps file chunks on demand
// and unmaps them when the packet is done.
class UsbBulkWriter::Cursor
{
public:
    Cursor(const std::vector<Chunk>& chunks, size_t size) : m_chunks(chunks), m_left(size) {}
    ~Cursor()
    {
        for (const auto& [address, length] : m_maps)
            ::munmap(address, length);
    }
    Cursor(const Cursor&) = delete;
    Cursor& operator=(const Cursor&) = delete;

    size_t left() const { return m_left; }

    // The next n bytes as one mapped stretch of a file chunk, or null when
    // they are no such stretch or the file cannot be mapped. FileError in
    // *status when the file is shorter than the chunk says.
    const unsigned char* mapped(size_t n, IoStatus* status, std::string* error)
    {
        const Chunk& c = m_chunks[m_index];
        if (c.data || c.size - m_offset < n)
            return nullptr;
        if (m_mappedIndex != m_index) {
            struct stat info {};
            if (::fstat(c.fd, &info) != 0 || uint64_t(info.st_size) < c.offset + c.size) {
                *status = IoStatus::FileError;
                *error = "the file ended early";
                return nullptr;
            }
            const uint64_t page = uint64_t(::sysconf(_SC_PAGESIZE));
            const uint64_t start = c.offset / page * page;
            const size_t length = size_t(c.offset + c.size - start);
            void* address = ::mmap(nullptr, length, PROT_READ, MAP_SHARED, c.fd, off_t(start));
            if (address == MAP_FAILED)
                return nullptr;
            ::madvise(address, length, MADV_SEQUENTIAL | MADV_WILLNEED);
            m_maps.emplace_back(address, length);
            m_mappedIndex = m_index;
            m_mapBase = static_cast<const unsigned char*>(address) + (c.offset - start);
        }
        return m_mapBase + m_offset;
    }

    // Copies the next n bytes without moving on; false with *error when a
    // file cannot be read.
    bool copy(unsigned char* out, size_t n, std::string* error) const
    {
        size_t index = m_index;
        size_t offset = m_offset;
        while (n > 0) {
            const Chunk& c = m_chunks[index];
            const size_t take = std::min(n, c.size - offset);
            errno = 0;
            if (c.data) {
                std::memcpy(out, c.data + offset, take);
            } else if (!InputFile::readAt(c.fd, c.offset + offset, out, take)) {
                *error = errno != 0 ? std::strerror(errno) : "the file ended early";
                return false;
            }
            out += take;
            n -= take;
            offset += take;
            if (offset == c.size) {
                ++index;
                offset = 0;
            }
        }
        return true;
    }

    void advance(size_t n)
    {
        m_left -= n;
        while (n > 0) {
            const size_t take = std::min(n, m_chunks[m_index].size - m_offset);
            n -= take;
            m_offset += take;
            if (m_offset == m_chunks[m_index].size) {
                ++m_index;
                m_offset = 0;
            }
        }
    }

private:
    const std::vector<Chunk>& m_chunks;
    size_t m_left;
    size_t m_index = 0;
    size_t m_offset = 0;
    size_t m_mappedIndex = SIZE_MAX;
    const unsigned char* m_mapBase = nullptr;
    std::vector<std::pair<void*, size_t>> m_maps;
};

UsbBulkWriter::UsbBulkWriter(libusb_device_handle* handle, uint8_t endpoint)
    : m_handle(handle), m_endpoint(endpoint)
{
    for (Slot& slot : m_slots)
        slot.transfer = libusb_alloc_transfer(0);
}

UsbBulkWriter::~UsbBulkWriter()
{
    for (Slot& slot : m_slots)
        libusb_free_transfer(slot.transfer);
}

void UsbBulkWriter::onDone(libusb_transfer* transfer)
{
    auto* self = static_cast<UsbBulkWriter*>(transfer->user_data);
    std::lock_guard lock(self->m_mutex);
    for (Slot& slot : self->m_slots) {
        if (slot.transfer == transfer)
            slot.done = true;
    }
    self->m_changed.notify_all();
}

IoStatus UsbBulkWriter::write(const std::vector<Chunk>& chunks, size_t size, Clock::time_point deadline,
                              std::string* error)
{
    Cursor cursor(chunks, size);
    IoStatus status = IoStatus::Ok;
    std::unique_lock lock(m_mutex);
    for (;;) {
        for (Slot& slot : m_slots) {
            if (slot.busy && slot.done) {
                slot.busy = false;
                --m_inFlight;
                // The first failure names the cause; the rest follow from it.
                std::string why;
                const IoStatus result = finished(slot, &why);
                if (status == IoStatus::Ok && result != IoStatus::Ok) {
                    status = result;
                    *error = why;
                }
            }
        }
        if (status != IoStatus::Ok)
            break;
        if (cursor.left() == 0 && m_inFlight == 0)
            return IoStatus::Ok;
        Slot* idle = nullptr;
        for (Slot& slot : m_slots) {
            if (!slot.busy && !idle)
                idle = &slot;
        }
        if (cursor.left() > 0 && idle) {
            lock.unlock();
            status = submitNext(*idle, cursor, deadline, error);
            lock.lock();
            if (status != IoStatus::Ok)
                break;
            continue;
        }
        const auto anyDone = [&] {
            return std::any_of(std::begin(m_slots), std::end(m_slots), [](const Slot& s) { return s.busy && s.done; });
        };
        if (!m_changed.wait_until(lock, deadline + kGrace, anyDone)) {
            status = IoStatus::Timeout;
            *error = "timed out";
            break;
        }
    }
    cancelAll(lock);
    return status;
}

IoStatus UsbBulkWriter::submitNext(Slot& slot, Cursor& cursor, Clock::time_point deadline, std::string* error)
{
    IoStatus status = IoStatus::Ok;
    size_t length = std::min(m_transferSize, cursor.left());
    const unsigned char* data = cursor.mapped(length, &status, error);
    if (status != IoStatus::Ok)
        return status;
    if (!data) {
        slot.staging.resize(m_transferSize);
        if (!cursor.copy(slot.staging.data(), length, error))
            return IoStatus::FileError;
        data = slot.staging.data();
    }
    for (;;) {
        libusb_fill_bulk_transfer(slot.transfer, m_handle, m_endpoint, const_cast<unsigned char*>(data), int(length),
                                  &UsbBulkWriter::onDone, this, timeoutUntil(deadline));
        {
            std::lock_guard lock(m_mutex);
            slot.busy = true;
            slot.done = false;
            ++m_inFlight;
        }
        const int rc = libusb_submit_transfer(slot.transfer);
        if (rc == 0) {
            cursor.advance(length);
            return IoStatus::Ok;
        }
        {
            std::lock_guard lock(m_mutex);
            slot.busy = false;
            --m_inFlight;
        }
        if (rc == LIBUSB_ERROR_NO_MEM && m_transferSize > kMinTransfer) {
            // The kernel's usbfs memory is spent (other lines, other
            // programs): go on with smaller transfers. The staged bytes'
            // beginning is still the right data.
            m_transferSize /= 2;
            length = std::min(length, m_transferSize);
            continue;
        }
        if (rc == LIBUSB_ERROR_NO_DEVICE) {
            *error = "the USB device went away";
            return IoStatus::Closed;
        }
        *error = std::string("USB transfer failed: ") + libusb_strerror(rc);
        return IoStatus::Error;
    }
}

IoStatus UsbBulkWriter::finished(Slot& slot, std::string* error)
{
    const libusb_transfer* t = slot.transfer;
    switch (t->status) {
    case LIBUSB_TRANSFER_COMPLETED:
        if (t->actual_length == t->length)
            return IoStatus::Ok;
        *error = "short USB transfer: " + std::to_string(t->actual_length) + " of " + std::to_string(t->length)
                 + " bytes";
        return IoStatus::Closed;
    case LIBUSB_TRANSFER_CANCELLED:
        return IoStatus::Ok; // cancelled here, after the failure that counts
    case LIBUSB_TRANSFER_TIMED_OUT:
        *error = "timed out";
        return IoStatus::Timeout;
    case LIBUSB_TRANSFER_NO_DEVICE:
        *error = "the USB device went away";
        return IoStatus::Closed;
    default:
        *error = std::string("USB transfer failed: ") + libusb_error_name(t->status);
        return IoStatus::Error;
    }
}

void UsbBulkWriter::cancelAll(std::unique_lock<std::mutex>& lock)
{
    // libusb calls back on the event thread, which takes this lock: cancel
    // without holding it, then wait for every transfer to come back before
    // its buffer or mapping goes away.
    std::vector<libusb_transfer*> pending;
    for (Slot& slot : m_slots) {
        if (slot.busy && !slot.done)
            pending.push_back(slot.transfer);
    }
    lock.unlock();
    for (libusb_transfer* t : pending)
        libusb_cancel_transfer(t);
    lock.lock();
    m_changed.wait(lock, [&] {
        return std::all_of(std::begin(m_slots), std::end(m_slots), [](const Slot& s) { return !s.busy || s.done; });
    });
    for (Slot& slot : m_slots) {
        if (slot.busy) {
            slot.busy = false;
            --m_inFlight;
        }
    }
}

} // namespace fastboot

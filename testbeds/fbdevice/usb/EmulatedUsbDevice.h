#pragma once

#include "PacketDevice.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

typedef struct _GSource GSource;
typedef struct _UMockdevIoctlBase UMockdevIoctlBase;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;
typedef struct _UMockdevIoctlData UMockdevIoctlData;

// The usbfs side of one emulated USB device: answers the ioctls libusb makes
// on its device node (claim, submit, reap and discard of bulk URBs) and
// hands the bulk data to a PacketDevice. Hosts that talk usbfs directly get
// the rest of it too: read() on the node gives the descriptors, and the
// synchronous bulk ioctl moves one piece of a transfer at a time (OUT pieces
// are joined into the transfer the device sees until a short or zero-length
// packet ends it; an IN waits for the device's next packet or its timeout).
// umockdev runs the handler on its worker thread; the test thread only flips
// the failure switches.
class EmulatedUsbDevice final
{
public:
    explicit EmulatedUsbDevice(std::shared_ptr<PacketDevice> model);
    ~EmulatedUsbDevice();
    EmulatedUsbDevice(const EmulatedUsbDevice&) = delete;
    EmulatedUsbDevice& operator=(const EmulatedUsbDevice&) = delete;

    UMockdevIoctlBase* handler() const { return m_handler; }

    // The device and configuration descriptors, as sysfs shows them: what a
    // read() of the device node gives, and the bulk OUT packet size.
    void setDescriptors(const std::string& descriptors);

    // Another program holds the interface: claiming it fails with EBUSY. As
    // in the kernel, the interface is also busy for every open file but the
    // one that claimed it, until that one releases it or closes.
    void setInterfaceBusy(bool busy);
    // The device was pulled: every later ioctl fails with ENODEV and URBs
    // in flight end with ESHUTDOWN.
    void unplug();
    // True once the model has asked to leave the bus (reboot).
    bool leaving();
    // Bytes taken on bulk OUT so far.
    long long bytesReceived();
    // As the kernel past its usbfs memory limit: bulk OUT URBs larger than
    // this fail with ENOMEM (0: no limit).
    void setUrbLimit(int bytes);
    // The largest bulk OUT URB taken so far.
    int largestUrb();
    // Called (on umockdev's thread, once) when the model leaves the bus; the
    // device answers nothing more from then on.
    void setOnLeave(std::function<void()> onLeave);

private:
    static int onIoctl(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, EmulatedUsbDevice* self);
    static void onVanished(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, EmulatedUsbDevice* self);
    static int onRead(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, EmulatedUsbDevice* self);
    static int onBulkTimeout(void* timer);
    bool handle(UMockdevIoctlClient* client);
    void submit(UMockdevIoctlClient* client);
    void reap(UMockdevIoctlClient* client);
    void discard(UMockdevIoctlClient* client);
    // USBDEVFS_BULK, and its two directions. The *Locked ones hold m_mutex.
    void bulk(UMockdevIoctlClient* client);
    void bulkOutLocked(UMockdevIoctlClient* client, UMockdevIoctlData* transfer, UMockdevIoctlData* buffer);
    void bulkInLocked(UMockdevIoctlClient* client, UMockdevIoctlData* transfer, UMockdevIoctlData* buffer);
    // A bulk ioctl that waits: for a packet from the device (IN) or for a
    // stalled device (OUT); its timer ends it with ETIMEDOUT.
    struct BulkWait {
        uint64_t id = 0;
        bool in = true;
        UMockdevIoctlClient* client = nullptr;
        UMockdevIoctlData* transfer = nullptr;
        UMockdevIoctlData* buffer = nullptr;
        GSource* timer = nullptr;
    };
    void waitLocked(BulkWait wait, unsigned timeoutMs);
    void endWaitLocked(BulkWait& wait, long result, int error);
    // Lets go of what the wait holds (its timer, buffers and client).
    static void release(BulkWait& wait);
    void bulkTimedOut(uint64_t id);
    // Calls the leave callback when pump() said the device left; unlocks.
    void leaveIfGone(std::unique_lock<std::mutex>& lock, bool left);
    // Fills waiting IN URBs from the model's replies; true when the model
    // has just left the bus. Holds m_mutex.
    bool pump();

    UMockdevIoctlBase* m_handler;
    std::shared_ptr<PacketDevice> m_model;
    std::mutex m_mutex;
    std::deque<UMockdevIoctlData*> m_waitingIn; // submitted IN URBs without data yet
    std::deque<UMockdevIoctlData*> m_waitingOut; // OUT URBs a stalled device does not take
    std::deque<UMockdevIoctlData*> m_done;      // URBs ready to be reaped
    std::deque<BulkWait> m_bulkWaits;           // synchronous bulk ioctls waiting
    uint64_t m_nextWait = 1;
    std::string m_outTransfer; // synchronous OUT packets of a transfer not yet ended
    size_t m_outPacket = 512;
    std::string m_descriptors;
    std::map<UMockdevIoctlClient*, size_t> m_readAt; // read() position of each open file
    bool m_busy = false;
    UMockdevIoctlClient* m_owner = nullptr; // the open file that claimed the interface
    bool m_gone = false;
    std::function<void()> m_onLeave;
    long long m_received = 0;
    int m_urbLimit = 0;
    int m_largestUrb = 0;
};

#pragma once

#include "PacketDevice.h"

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

typedef struct _UMockdevIoctlBase UMockdevIoctlBase;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;
typedef struct _UMockdevIoctlData UMockdevIoctlData;

// The usbfs side of one emulated USB device: answers the ioctls libusb makes
// on its device node (claim, submit, reap and discard of bulk URBs) and
// hands the bulk data to a PacketDevice. umockdev runs the handler on its
// worker thread; the test thread only flips the failure switches.
class EmulatedUsbDevice final
{
public:
    explicit EmulatedUsbDevice(std::shared_ptr<PacketDevice> model);
    ~EmulatedUsbDevice();
    EmulatedUsbDevice(const EmulatedUsbDevice&) = delete;
    EmulatedUsbDevice& operator=(const EmulatedUsbDevice&) = delete;

    UMockdevIoctlBase* handler() const { return m_handler; }

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
    bool handle(UMockdevIoctlClient* client);
    void submit(UMockdevIoctlClient* client);
    void reap(UMockdevIoctlClient* client);
    void discard(UMockdevIoctlClient* client);
    // Fills waiting IN URBs from the model's replies; true when the model
    // has just left the bus. Holds m_mutex.
    bool pump();

    UMockdevIoctlBase* m_handler;
    std::shared_ptr<PacketDevice> m_model;
    std::mutex m_mutex;
    std::deque<UMockdevIoctlData*> m_waitingIn; // submitted IN URBs without data yet
    std::deque<UMockdevIoctlData*> m_waitingOut; // OUT URBs a stalled device does not take
    std::deque<UMockdevIoctlData*> m_done;      // URBs ready to be reaped
    bool m_busy = false;
    UMockdevIoctlClient* m_owner = nullptr; // the open file that claimed the interface
    bool m_gone = false;
    std::function<void()> m_onLeave;
    long long m_received = 0;
    int m_urbLimit = 0;
    int m_largestUrb = 0;
};

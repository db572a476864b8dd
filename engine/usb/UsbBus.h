#pragma once

#include "UsbIds.h"
#include "UsbLocation.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

struct libusb_context;
struct libusb_device;

namespace usb {

// A USB device in a socket, as found on the bus.
struct UsbDeviceInfo {
    UsbLocation socket;   // the port, mapped to its USB 2 name
    UsbLocation location; // where the device is now (the SuperSpeed name at SuperSpeed)
    UsbId id;
    int address = 0;      // changes at every enumeration
    bool bootRom = false; // present, but in a boot-ROM mode (one of the caller's ids)
    bool hasInterface = false; // has the caller's interface (neither: a phone running its system, ...)
    int interface = -1;   // that interface and its bulk endpoints
    uint8_t endpointIn = 0;
    uint8_t endpointOut = 0;
};

// The USB buses through libusb: which devices (with the interface the
// caller looks for, boot ROM or any other) are in which socket, kept up to date by libusb's hot-plug callbacks where the
// platform has them and by a scan every second in any case.
//
// Two threads of its own: one handles libusb's events and does nothing else
// (so a transfer's completion never waits for the station), the other keeps
// the list and calls onChange when the set of occupied sockets or what sits
// in them changes. onChange may block; only later changes wait for it.
class UsbBus final
{
public:
    using Clock = std::chrono::steady_clock;

    // wanted is the interface the caller talks to (with a bulk endpoint
    // each way). sysfsRoot is where the SuperSpeed port peers are looked up.
    // Without hotPlug the bus relies on its scan every second alone, as on a
    // platform without hot-plug callbacks.
    explicit UsbBus(UsbInterfaceClass wanted, std::string sysfsRoot = "/sys", bool hotPlug = true);
    ~UsbBus();
    UsbBus(const UsbBus&) = delete;
    UsbBus& operator=(const UsbBus&) = delete;

    // Starts libusb and both threads; false with *error set when libusb
    // cannot start (no USB support at all).
    bool start(std::function<void()> onChange, std::string* error);
    // Stops both threads and libusb. No onChange call starts after it began.
    void stop();

    // The ids whose devices are boot ROMs (none until set).
    void setBootRomIds(std::vector<UsbId> ids);
    bool hotPlug() const { return m_hotPlug; }
    libusb_context* context() const { return m_context; }

    // The devices of the last scan, in socket order.
    std::vector<UsbDeviceInfo> devices() const;
    // The device in a socket now (scanned afresh), or nullopt.
    std::optional<UsbDeviceInfo> find(const UsbLocation& socket) const;
    // Waits until a device in the socket satisfies accept, scanning afresh
    // at every hot-plug event and at least every 200 ms; nullopt at the
    // deadline or once the bus stops.
    std::optional<UsbDeviceInfo> waitFor(const UsbLocation& socket, Clock::time_point deadline,
                                         const std::function<bool(const UsbDeviceInfo&)>& accept) const;

    // What one libusb device is to the caller: the wanted interface, a boot
    // ROM of the list, or anything else in a socket (it occupies it); nullopt
    // for hubs.
    static std::optional<UsbDeviceInfo> classify(libusb_device* device, const UsbInterfaceClass& wanted,
                                                 const std::vector<UsbId>& bootRomIds, const std::string& sysfsRoot);

    // Something changed on the bus: scan soon (libusb's hot-plug callback).
    void poke();

    // A device told to reboot may answer at its old address for a moment:
    // until the socket has been seen empty or holding another address, the
    // device at that address is not the one to wait for.
    void markLeaving(const UsbLocation& socket, int address);
    int leavingAddress(const UsbLocation& socket) const; // 0: none

private:
    std::vector<UsbDeviceInfo> scan() const;
    void runEvents();
    void runWatch();

    const UsbInterfaceClass m_wanted;
    const std::string m_sysfsRoot;
    const bool m_wantHotPlug;
    libusb_context* m_context = nullptr;
    bool m_hotPlug = false;
    int m_hotPlugHandle = 0;
    std::function<void()> m_onChange;
    std::atomic<bool> m_stopping{false};
    std::thread m_events;
    std::thread m_watch;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<UsbId> m_bootRomIds;      // guarded by m_mutex
    std::vector<UsbDeviceInfo> m_devices; // guarded by m_mutex
    unsigned m_generation = 0;            // guarded by m_mutex; counts hot-plug events
    mutable std::map<UsbLocation, int> m_leaving; // guarded by m_mutex; trimmed by every scan
};

} // namespace usb

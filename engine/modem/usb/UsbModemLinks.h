#pragma once

#include "ModemLinks.h"
#include "UsbHost.h"

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace modem {

// The modem engine's links over the USB socket library: the bus keeps every
// device by socket (vendor interfaces: normal mode; EDL_IDS: download mode),
// the AT ttys are found in sysfs under the device's interfaces, and download
// mode is spoken over libusb bulk transfers.
class UsbModemLinks final : public ModemLinks
{
public:
    // The interfaces of a module in normal mode, and of a chip in download mode.
    static constexpr usb::UsbInterfaceClass kVendorInterface{0xff, 0xff, 0xff};

    // edlIds: "vid:pid,..." (EDL_IDS). onChange runs on the bus's watch
    // thread after a change; it must not block.
    UsbModemLinks(const std::string& configPath, const std::string& edlIds, std::function<void()> onChange,
                  std::string sysfsRoot = "/sys", std::string devRoot = "/dev");

    State state(const std::string& socket) const override;
    bool waitFor(const std::string& socket, Mode mode, int notAddress, Clock::time_point deadline) override;
    std::vector<std::string> ttys(const std::string& socket, int atInterface) const override;
    std::unique_ptr<PacketLink> openTty(const std::string& tty, std::string* why) override;
    std::unique_ptr<PacketLink> openDownload(const std::string& socket, Clock::time_point deadline,
                                             std::string* why) override;
    void reload(const std::string& edlIds) override;

    // The tty names under one interface directory of sysfs: "tty/<name>"
    // (CDC ACM) or "ttyUSB*/tty/<name>" (USB serial drivers).
    static std::vector<std::string> ttysOfInterface(const std::string& interfaceDir);
    // The tty names of the device at location ("1-1.3"), interface by
    // interface in order (only interface atInterface when >= 0).
    static std::vector<std::string> ttysOfDevice(const std::string& sysfsRoot, const std::string& location,
                                                 int atInterface);

private:
    // The device in the socket as the bus's watch thread last found it.
    std::optional<usb::UsbDeviceInfo> deviceIn(const usb::UsbLocation& socket) const;
    // Waits on the watch thread's list, never scanning on the caller's
    // thread: only the watch thread walks libusb's device list.
    std::optional<usb::UsbDeviceInfo> waitForDevice(const usb::UsbLocation& socket, Mode mode, int notAddress,
                                                    Clock::time_point deadline);

    const std::string m_sysfsRoot;
    const std::string m_devRoot;
    std::mutex m_changeMutex;
    std::condition_variable m_changed;
    unsigned m_changes = 0; // guarded by m_changeMutex; counts the bus's changes
    std::unique_ptr<usb::UsbHost> m_host; // last: its threads use the above
};

} // namespace modem

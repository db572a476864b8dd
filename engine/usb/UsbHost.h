#pragma once

#include "UsbBus.h"
#include "UsbPortMap.h"

#include <functional>
#include <memory>
#include <string>

namespace fastboot {

// The fastboot engine's USB side: the bus, the port bindings of config.ini
// and the learning of new sockets. One per engine; the engine hands its bus
// to whatever opens "usb:" endpoints.
class UsbHost final
{
public:
    enum class Presence { None, BootRom, Fastboot, Other };

    // onChange runs on the bus's watch thread after a change on the bus
    // (and after a new socket has been learned); it must not block.
    UsbHost(std::string configPath, std::function<void()> onChange);
    ~UsbHost();
    UsbHost(const UsbHost&) = delete;
    UsbHost& operator=(const UsbHost&) = delete;

    // Takes BOOTROM_IDS and LEARN_PORTS from config.ini again.
    void reload();
    // What the bus's last scan found in a socket (Other: a device without
    // the fastboot interface); a device that was told to reboot counts as
    // gone.
    Presence presence(const UsbLocation& socket) const;
    // Tells one enumeration of the device in a socket from the next: its
    // address and whether it is a boot ROM, as 1..255; 0 for none.
    int enumeration(const UsbLocation& socket) const;
    // Null where this machine has no USB support.
    UsbBus* bus() const { return m_bus.get(); }

private:
    void busChanged();

    UsbPortMap m_ports;
    std::function<void()> m_onChange;
    std::unique_ptr<UsbBus> m_bus;
};

} // namespace fastboot

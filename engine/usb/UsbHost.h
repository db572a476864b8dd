#pragma once

#include "UsbBus.h"
#include "UsbPortMap.h"

#include <functional>
#include <memory>
#include <string>

namespace usb {

// An engine's USB side: the bus, the port bindings of its section of
// config.ini and the learning of new sockets. One per engine; the engine
// hands its bus to whatever opens "usb:" endpoints.
class UsbHost final
{
public:
    // Other: a device without the engine's interface.
    enum class Presence { None, BootRom, Ready, Other };

    // One enumeration of a device in a socket: the next one (after a
    // reboot, or another device) differs in its address or what it is.
    struct Enumeration {
        int address = 0; // 0: nothing there
        Presence presence = Presence::None;
        friend bool operator==(const Enumeration&, const Enumeration&) = default;
    };

    // wanted: the interface the engine talks to; name: the engine, for the
    // messages on stderr. onChange runs on the bus's watch thread after a
    // change on the bus (and after a new socket has been learned); it must
    // not block.
    UsbHost(UsbPortSettings settings, UsbInterfaceClass wanted, std::string name, std::function<void()> onChange);
    ~UsbHost();
    UsbHost(const UsbHost&) = delete;
    UsbHost& operator=(const UsbHost&) = delete;

    // Takes BOOTROM_IDS and LEARN_PORTS from config.ini again.
    void reload();
    // What the bus's last scan found in a socket; a device that was told to
    // reboot counts as gone.
    Presence presence(const UsbLocation& socket) const { return enumeration(socket).presence; }
    Enumeration enumeration(const UsbLocation& socket) const;
    // Null where this machine has no USB support.
    UsbBus* bus() const { return m_bus.get(); }

private:
    void busChanged();

    void report(const std::string& text) const;

    const std::string m_name;
    UsbPortMap m_ports;
    std::function<void()> m_onChange;
    std::unique_ptr<UsbBus> m_bus;
};

} // namespace usb

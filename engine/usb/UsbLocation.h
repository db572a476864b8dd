#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace usb {

// Where a USB device sits: its bus and the chain of hub ports from the root
// hub down to it, written as the kernel names the device in sysfs ("1-2.3":
// bus 1, root port 2, then port 3 of the hub there). A device keeps its
// location across re-enumeration as long as it stays in the same socket,
// while its address changes every time.
class UsbLocation final
{
public:
    UsbLocation() = default;
    UsbLocation(int bus, std::vector<int> ports);

    // "1-2.3"; nullopt for anything else (bus 1..255, one to seven ports of
    // 1..255, no blanks, no leading zeros).
    static std::optional<UsbLocation> parse(std::string_view text);

    int bus() const { return m_bus; }
    const std::vector<int>& ports() const { return m_ports; }
    bool valid() const { return m_bus > 0 && !m_ports.empty(); }
    std::string text() const;

    // The sysfs name of the hub this device hangs on ("usb1" for a root
    // port, else the hub's own location) and the port number on that hub.
    std::string hubName() const;
    int hubPort() const { return m_ports.empty() ? 0 : m_ports.back(); }

    // A location behind a SuperSpeed port, mapped to the USB 2 port paired
    // with it (the port's "peer" link in sysfs), so that a device on one
    // socket has one location at either speed. Anything else, or a port
    // without a peer, comes back unchanged. sysfsRoot is "/sys" outside tests.
    UsbLocation socket(const std::string& sysfsRoot = "/sys") const;

    friend bool operator==(const UsbLocation&, const UsbLocation&) = default;
    friend auto operator<=>(const UsbLocation&, const UsbLocation&) = default;

private:
    int m_bus = 0;
    std::vector<int> m_ports;
};

} // namespace usb

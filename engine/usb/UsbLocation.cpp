#include "UsbLocation.h"

#include <charconv>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace usb {

namespace {

namespace fs = std::filesystem;

constexpr size_t kMaxPorts = 7; // USB allows five tiers of hubs below the root; leave room

// A decimal number 1..255 without sign, blanks or leading zeros.
bool parseNumber(std::string_view text, int* value)
{
    if (text.empty() || text.size() > 3 || text.front() == '0')
        return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value);
    return ec == std::errc() && end == text.data() + text.size() && *value >= 1 && *value <= 255;
}

// The speed in Mbit/s a sysfs device reports; 0 when unreadable.
int deviceSpeed(const fs::path& device)
{
    std::ifstream in(device / "speed");
    double speed = 0;
    return (in >> speed) ? static_cast<int>(speed) : 0;
}

// The port folder of a hub: "<hub>/<interface>/<hub>-port<n>". A root hub
// "usb2" names its interface "2-0:1.0", any other hub "<hub>:1.0"; the
// interface is searched rather than assumed.
std::optional<fs::path> portFolder(const fs::path& hub, const std::string& hubName, int port)
{
    const std::string portName = hubName + "-port" + std::to_string(port);
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(hub, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.find(':') == std::string::npos)
            continue;
        const fs::path candidate = entry.path() / portName;
        if (fs::is_directory(candidate, ec))
            return candidate;
    }
    return std::nullopt;
}

// "usb1-port3" or "1-2-port3" back to a location, given the port folder's name.
std::optional<UsbLocation> locationOfPort(const std::string& portName)
{
    const size_t cut = portName.rfind("-port");
    if (cut == std::string::npos)
        return std::nullopt;
    const std::string hub = portName.substr(0, cut);
    const std::string port = portName.substr(cut + 5);
    if (hub.rfind("usb", 0) == 0)
        return UsbLocation::parse(hub.substr(3) + "-" + port);
    return UsbLocation::parse(hub + "." + port);
}

} // namespace

UsbLocation::UsbLocation(int bus, std::vector<int> ports)
    : m_bus(bus)
    , m_ports(std::move(ports))
{
}

std::optional<UsbLocation> UsbLocation::parse(std::string_view text)
{
    const size_t dash = text.find('-');
    if (dash == std::string_view::npos)
        return std::nullopt;
    UsbLocation location;
    if (!parseNumber(text.substr(0, dash), &location.m_bus))
        return std::nullopt;
    std::string_view rest = text.substr(dash + 1);
    for (;;) {
        const size_t dot = rest.find('.');
        int port = 0;
        if (!parseNumber(rest.substr(0, dot), &port) || location.m_ports.size() == kMaxPorts)
            return std::nullopt;
        location.m_ports.push_back(port);
        if (dot == std::string_view::npos)
            return location;
        rest = rest.substr(dot + 1);
    }
}

std::string UsbLocation::text() const
{
    std::string text = std::to_string(m_bus);
    char separator = '-';
    for (const int port : m_ports) {
        text += separator;
        text += std::to_string(port);
        separator = '.';
    }
    return text;
}

std::string UsbLocation::hubName() const
{
    if (m_ports.size() <= 1)
        return "usb" + std::to_string(m_bus);
    return UsbLocation(m_bus, std::vector<int>(m_ports.begin(), m_ports.end() - 1)).text();
}

UsbLocation UsbLocation::socket(const std::string& sysfsRoot) const
{
    if (!valid())
        return *this;
    const fs::path hub = fs::path(sysfsRoot) / "bus/usb/devices" / hubName();
    // Only the SuperSpeed half of a port pair is mapped; the USB 2 half is
    // the name the station keeps.
    if (deviceSpeed(hub) < 5000)
        return *this;
    const auto port = portFolder(hub, hubName(), hubPort());
    if (!port)
        return *this;
    // Only the link's last name matters ("1-1-port3"): read it rather than
    // resolve it, which also works where sysfs is mounted elsewhere.
    std::error_code ec;
    const fs::path peer = fs::read_symlink(*port / "peer", ec);
    if (ec)
        return *this;
    const auto mapped = locationOfPort(peer.filename().string());
    return mapped ? *mapped : *this;
}

} // namespace usb

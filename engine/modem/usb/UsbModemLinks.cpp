#include "UsbModemLinks.h"

#include "TtyLink.h"
#include "UsbPacketLink.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>

namespace modem {

namespace fs = std::filesystem;

namespace {

std::optional<usb::UsbLocation> locationOf(const std::string& socket)
{
    return usb::UsbLocation::parse(socket);
}

ModemLinks::Mode modeOf(const usb::UsbDeviceInfo& device)
{
    return device.bootRom ? ModemLinks::Mode::Download
           : device.hasInterface ? ModemLinks::Mode::Normal
                                 : ModemLinks::Mode::Other;
}

// "1-1.3:1.2" -> 2 for location "1-1.3"; -1 for other names.
int interfaceNumber(const std::string& name, const std::string& location)
{
    if (name.size() <= location.size() + 1 || name.compare(0, location.size(), location) != 0
        || name[location.size()] != ':')
        return -1;
    const std::string rest = name.substr(location.size() + 1); // "<config>.<n>"
    const auto dot = rest.find('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 >= rest.size())
        return -1;
    const std::string number = rest.substr(dot + 1);
    if (rest.find_first_not_of("0123456789.") != std::string::npos || number.find('.') != std::string::npos
        || number.size() > 3)
        return -1;
    return std::stoi(number);
}

bool isTtyName(const std::string& name)
{
    return !name.empty() && name.find('/') == std::string::npos && name != "." && name != "..";
}

} // namespace

UsbModemLinks::UsbModemLinks(const std::string& configPath, const std::string& edlIds, std::function<void()> onChange,
                             std::string sysfsRoot, std::string devRoot)
    : m_sysfsRoot(std::move(sysfsRoot))
    , m_devRoot(std::move(devRoot))
{
    m_host = std::make_unique<usb::UsbHost>(usb::UsbPortSettings{configPath, "MODEM_Engine", edlIds},
                                            kVendorInterface, "modem engine", [this, onChange = std::move(onChange)] {
                                                {
                                                    std::lock_guard lock(m_changeMutex);
                                                    ++m_changes;
                                                }
                                                m_changed.notify_all();
                                                if (onChange)
                                                    onChange();
                                            });
}

std::optional<usb::UsbDeviceInfo> UsbModemLinks::deviceIn(const usb::UsbLocation& socket) const
{
    if (!m_host->bus())
        return std::nullopt;
    for (const usb::UsbDeviceInfo& device : m_host->bus()->devices()) {
        if (device.socket == socket)
            return device;
    }
    return std::nullopt;
}

std::optional<usb::UsbDeviceInfo> UsbModemLinks::waitForDevice(const usb::UsbLocation& socket, Mode mode,
                                                                int notAddress, Clock::time_point deadline)
{
    usb::UsbBus* bus = m_host->bus();
    if (!bus)
        return std::nullopt;
    bus->poke(); // a fresh look at once
    for (;;) {
        unsigned seen = 0;
        {
            std::lock_guard lock(m_changeMutex);
            seen = m_changes;
        }
        const auto device = deviceIn(socket);
        if (device && modeOf(*device) == mode && device->address != notAddress
            && device->address != bus->leavingAddress(socket))
            return device;
        std::unique_lock lock(m_changeMutex);
        if (Clock::now() >= deadline)
            return std::nullopt;
        // The watch thread scans at least once a second; the bound is a
        // safeguard, not the way changes are seen.
        m_changed.wait_until(lock, std::min(deadline, Clock::now() + std::chrono::seconds(1)),
                             [&] { return m_changes != seen; });
    }
}

void UsbModemLinks::reload(const std::string& edlIds)
{
    m_host->reload();
    if (m_host->bus()) {
        if (const auto ids = usb::parseUsbIds(edlIds))
            m_host->bus()->setBootRomIds(*ids);
    }
}

ModemLinks::State UsbModemLinks::state(const std::string& socket) const
{
    const auto location = locationOf(socket);
    if (!location)
        return {};
    const usb::UsbHost::Enumeration e = m_host->enumeration(*location);
    switch (e.presence) {
    case usb::UsbHost::Presence::None: return {};
    case usb::UsbHost::Presence::BootRom: return {Mode::Download, e.address};
    case usb::UsbHost::Presence::Ready: return {Mode::Normal, e.address};
    case usb::UsbHost::Presence::Other: return {Mode::Other, e.address};
    }
    return {};
}

bool UsbModemLinks::waitFor(const std::string& socket, Mode mode, int notAddress, Clock::time_point deadline)
{
    const auto location = locationOf(socket);
    return location && waitForDevice(*location, mode, notAddress, deadline).has_value();
}

std::vector<std::string> UsbModemLinks::ttysOfInterface(const std::string& interfaceDir)
{
    std::vector<std::string> names;
    std::error_code ec;
    // CDC ACM: <interface>/tty/ttyACM0
    for (const auto& entry : fs::directory_iterator(fs::path(interfaceDir) / "tty", ec)) {
        const std::string name = entry.path().filename().string();
        if (isTtyName(name))
            names.push_back(name);
    }
    // USB serial: <interface>/ttyUSB0/tty/ttyUSB0
    for (const auto& port : fs::directory_iterator(interfaceDir, ec)) {
        const std::string portName = port.path().filename().string();
        if (portName.rfind("ttyUSB", 0) != 0)
            continue;
        std::error_code inner;
        for (const auto& entry : fs::directory_iterator(port.path() / "tty", inner)) {
            const std::string name = entry.path().filename().string();
            if (isTtyName(name))
                names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> UsbModemLinks::ttysOfDevice(const std::string& sysfsRoot, const std::string& location,
                                                     int atInterface)
{
    std::map<int, std::string> interfaces; // number -> directory
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(fs::path(sysfsRoot) / "bus/usb/devices", ec)) {
        const int number = interfaceNumber(entry.path().filename().string(), location);
        if (number >= 0 && (atInterface < 0 || number == atInterface))
            interfaces.emplace(number, entry.path().string());
    }
    std::vector<std::string> names;
    for (const auto& [number, dir] : interfaces) {
        for (std::string& name : ttysOfInterface(dir))
            names.push_back(std::move(name));
    }
    return names;
}

std::vector<std::string> UsbModemLinks::ttys(const std::string& socket, int atInterface) const
{
    const auto location = locationOf(socket);
    if (!location)
        return {};
    // The device may sit at the socket's SuperSpeed name.
    const auto device = deviceIn(*location);
    if (!device)
        return {};
    return ttysOfDevice(m_sysfsRoot, device->location.text(), atInterface);
}

std::unique_ptr<PacketLink> UsbModemLinks::openTty(const std::string& tty, std::string* why)
{
    return TtyLink::open((fs::path(m_devRoot) / tty).string(), why);
}

std::unique_ptr<PacketLink> UsbModemLinks::openDownload(const std::string& socket, Clock::time_point deadline,
                                                        std::string* why)
{
    const auto location = locationOf(socket);
    if (!location) {
        *why = "\"" + socket + "\" is no USB socket";
        return nullptr;
    }
    if (!m_host->bus()) {
        *why = "USB is not available on this machine";
        return nullptr;
    }
    const auto device = waitForDevice(*location, Mode::Download, 0, deadline);
    if (!device) {
        *why = "no module in download mode in USB socket " + location->text();
        return nullptr;
    }
    return UsbPacketLink::open(*m_host->bus(), *device, why);
}

} // namespace modem

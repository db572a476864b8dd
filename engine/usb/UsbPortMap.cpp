#include "UsbPortMap.h"

#include "FileText.h"
#include "PortKeys.h"
#include "core/IniText.h"

#include <sstream>

namespace usb {

namespace {

// A default no file can hold: tells a missing key from an empty one.
constexpr std::string_view kMissing = "\n";

} // namespace

UsbPortMap::UsbPortMap(UsbPortSettings settings, std::string sysfsRoot)
    : m_settings(std::move(settings))
    , m_sysfsRoot(std::move(sysfsRoot))
{
    reload();
}

void UsbPortMap::reload(std::string* warning)
{
    const std::string text = engine::fileText(m_settings.configPath);
    std::lock_guard lock(m_mutex);
    parse(text, warning);
}

void UsbPortMap::parse(const std::string& text, std::string* warning)
{
    m_sockets.clear();
    for (const auto& [port, value] : engine::portKeys(text, m_settings.section)) {
        if (value.rfind("usb:", 0) != 0)
            continue;
        if (const auto location = UsbLocation::parse(value.substr(4)))
            m_sockets[port] = location->socket(m_sysfsRoot);
    }
    const std::string learn = IniText::valueIn(text, m_settings.section, "LEARN_PORTS");
    m_learning = learn.empty() || IniText::leadingInt(learn) != 0;

    const std::string ids = IniText::valueIn(text, m_settings.section, "BOOTROM_IDS", kMissing);
    std::string bad;
    auto parsed = parseUsbIds(ids == kMissing ? std::string_view(m_settings.defaultBootRomIds) : std::string_view(ids), &bad);
    if (!parsed) {
        if (warning)
            *warning = "BOOTROM_IDS: \"" + bad + "\" is not a vid:pid pair in hex; the default list is used";
        parsed = parseUsbIds(m_settings.defaultBootRomIds);
    }
    m_bootRomIds = parsed ? *parsed : std::vector<UsbId>{};
}

std::optional<UsbLocation> UsbPortMap::socketOf(int port) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_sockets.find(port);
    return it == m_sockets.end() ? std::nullopt : std::optional(it->second);
}

int UsbPortMap::portOf(const UsbLocation& socket) const
{
    std::lock_guard lock(m_mutex);
    for (const auto& [port, location] : m_sockets) {
        if (location == socket)
            return port;
    }
    return 0;
}

std::vector<int> UsbPortMap::ports() const
{
    std::lock_guard lock(m_mutex);
    std::vector<int> ports;
    for (const auto& entry : m_sockets)
        ports.push_back(entry.first);
    return ports;
}

bool UsbPortMap::learning() const
{
    std::lock_guard lock(m_mutex);
    return m_learning;
}

std::vector<UsbId> UsbPortMap::bootRomIds() const
{
    std::lock_guard lock(m_mutex);
    return m_bootRomIds;
}

int UsbPortMap::learn(const UsbLocation& socket, std::string* error)
{
    std::lock_guard lock(m_mutex);
    // The file as it is under the INI write lock: the tool, another copy of
    // this engine or an operator may have changed it, and nobody else can
    // until the new key is in.
    int bound = 0;
    int free = 0;
    bool added = false;
    const bool written = IniText(m_settings.configPath).update([&](std::string& text) {
        parse(text, nullptr);
        for (const auto& [port, location] : m_sockets) {
            if (location == socket) {
                bound = port;
                return false;
            }
        }
        for (int port = 1; port <= kMaxPort && free == 0; ++port) {
            if (IniText::valueIn(text, m_settings.section, engine::portKey(port), kMissing) == kMissing)
                free = port;
        }
        added = free != 0 && IniText::setValueIn(text, m_settings.section, engine::portKey(free), "usb:" + socket.text());
        return added;
    });
    if (bound != 0)
        return bound;
    if (written && free == 0) {
        if (error)
            *error = "no free port number for the USB device at " + socket.text() + ": all of PORT.1 to PORT.255 are set";
        return 0;
    }
    if (!written || !added) {
        if (error)
            *error = "cannot write " + m_settings.configPath + " to bind the USB device at " + socket.text();
        return 0;
    }
    m_sockets[free] = socket;
    return free;
}

} // namespace usb

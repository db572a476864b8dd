#pragma once

#include "PortKeys.h"
#include "UsbIds.h"
#include "UsbLocation.h"

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace usb {

// Where an engine keeps its USB settings: the file, its section there, and
// the boot-ROM ids that apply while the section names none.
struct UsbPortSettings {
    std::string configPath;
    std::string section;
    std::string defaultBootRomIds; // "vid:pid,..."
};

// The USB side of an engine's section of config.ini:
//   PORT.<n>=usb:<location>  binds the tool's port number n (1..255) to a socket
//   LEARN_PORTS=1            a device with the engine's interface or a boot ROM
//                            in a socket that no PORT.<n> names gets the lowest
//                            free number, saved at once
//   BOOTROM_IDS=vid:pid,...  devices present but not ready (boot-ROM modes)
// A location written at its SuperSpeed name is kept at its USB 2 name, so
// either spelling binds the socket. Safe to use from any thread.
class UsbPortMap final
{
public:
    static constexpr int kMaxPort = engine::kMaxPortKey;

    explicit UsbPortMap(UsbPortSettings settings, std::string sysfsRoot = "/sys");

    // Reads the section again; *warning tells about a bad BOOTROM_IDS value
    // (the default list is kept then).
    void reload(std::string* warning = nullptr);

    std::optional<UsbLocation> socketOf(int port) const;
    int portOf(const UsbLocation& socket) const; // 0 when no number names it
    std::vector<int> ports() const;              // the numbers bound to USB sockets
    bool learning() const;
    std::vector<UsbId> bootRomIds() const;

    // Gives the socket a number, as described above: the number it already
    // has, else the lowest one no PORT.<n> key of the file uses (whatever its
    // transport). 0 when all are taken or config.ini could not be written;
    // *error then says why.
    int learn(const UsbLocation& socket, std::string* error);

private:
    void parse(const std::string& text, std::string* warning); // holds m_mutex

    const UsbPortSettings m_settings;
    const std::string m_sysfsRoot;
    mutable std::mutex m_mutex;
    std::map<int, UsbLocation> m_sockets;
    bool m_learning = true;
    std::vector<UsbId> m_bootRomIds;
};

} // namespace usb

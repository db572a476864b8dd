#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

// One simulated device on the bus: the file "port-N.ini" in the bus folder,
// section "Device". The device's storage is the folder "port-N.data".
// Files are replaced atomically, so a reader never sees half a device.
class DeviceFile final
{
public:
    struct State {
        bool arm = false; // Mode: READY or ARM
        std::string display;
        std::string internal;
        std::string imei;
        int64_t speed = 0;  // bytes per second, 0 = engine default
        int failAt = -1;    // percent at which a download fails, -1 = never
        int resultCode = 0; // nonzero: the device reports this failure
    };

    DeviceFile(std::string busDir, int port);

    const std::string& path() const { return m_path; }
    std::string dataDir() const;
    bool exists() const;
    std::optional<State> read() const;
    bool write(const State& state, std::string* error = nullptr) const;
    bool remove(std::string* error = nullptr) const;

    // Port numbers of the device files in the bus folder, ascending.
    static std::vector<int> ports(const std::string& busDir);
    // True for "port-N.ini" with N a positive decimal number.
    static bool isDeviceFileName(std::string_view name, int* port = nullptr);
    // Replaces a file: temporary file in the same folder, checked writes,
    // fdatasync, rename, fsync of the folder.
    static bool replaceFile(const std::string& path, std::string_view content,
                            std::string* error = nullptr);

private:
    std::string m_busDir;
    int m_port;
    std::string m_path;
};

} // namespace sim

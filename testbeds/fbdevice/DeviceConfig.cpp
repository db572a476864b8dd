#include "DeviceConfig.h"

#include "core/IniText.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fbdevice {

namespace {

uint64_t number(const std::string& text, uint64_t fallback)
{
    if (text.empty())
        return fallback;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 0);
    return *end == '\0' ? value : fallback;
}

} // namespace

bool DeviceConfig::load(const std::string& path, DeviceConfig* config, std::string* why)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *why = "cannot read " + path;
        return false;
    }
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const std::filesystem::path folder = std::filesystem::absolute(path).parent_path();
    config->devices.clear();
    for (int n = 1;; ++n) {
        const std::string section = "DEVICE." + std::to_string(n);
        const auto value = [&](const char* key) { return IniText::valueIn(text, section, key); };
        const std::string port = value("PORT");
        if (port.empty())
            break;
        Device d;
        d.port = int(number(port, 0));
        DeviceSettings& s = d.settings;
        s.display = value("DISPLAY");
        s.internal = value("INTERNAL");
        s.imei = value("IMEI");
        if (!value("PRODUCT").empty())
            s.product = value("PRODUCT");
        s.maxDownload = uint32_t(number(value("MAX_DOWNLOAD_SIZE"), s.maxDownload));
        s.failPartition = value("FAIL_PARTITION");
        s.dropAfter = number(value("DROP_AFTER"), 0);
        s.delayMsPerMiB = int(number(value("DELAY_MS_PER_MIB"), 0));
        s.awayMs = int(number(value("AWAY_MS"), uint64_t(s.awayMs)));
        s.lingerMs = int(number(value("LINGER_MS"), 0));
        s.neverReboots = number(value("NEVER_REBOOTS"), 0) == 1;
        if (!value("OEM_COMMAND").empty())
            s.oem[value("OEM_COMMAND")] = value("OEM_ANSWER");
        const std::string storage = value("STORAGE");
        s.storageDir = storage.empty() ? (folder / ("device-" + std::to_string(n))).string()
                                       : (folder / storage).lexically_normal().string();
        if (d.port < 0 || d.port > 65535 || s.maxDownload == 0) {
            *why = "[" + section + "] has a bad PORT or MAX_DOWNLOAD_SIZE";
            return false;
        }
        config->devices.push_back(d);
    }
    if (config->devices.empty()) {
        *why = path + " names no devices (sections [DEVICE.1], [DEVICE.2], ...)";
        return false;
    }
    return true;
}

} // namespace fbdevice

#include "FastbootSettings.h"

#include "FileText.h"
#include "PortKeys.h"
#include "core/IniText.h"

#include <filesystem>

namespace fastboot {

namespace {

constexpr char kSection[] = "FASTBOOT_Engine";

int number(const std::string& text, int fallback, int low, int high)
{
    if (text.empty())
        return fallback;
    const int value = IniText::leadingInt(text);
    return value < low || value > high ? fallback : value;
}

} // namespace

FastbootSettings FastbootSettings::load(const std::string& stationDir)
{
    // One read of the file, then every key from the text in memory.
    const std::string text = engine::fileText((std::filesystem::path(stationDir) / "config.ini").string());
    const auto value = [&](const char* key, const std::string& fallback = {}) {
        return IniText::valueIn(text, kSection, key, fallback);
    };
    FastbootSettings s;
    s.ports = engine::portKeys(text, kSection);
    s.displaySource = value("DISPLAY_VERSION", s.displaySource);
    s.internalSource = value("INTERNAL_VERSION", s.internalSource);
    s.imeiSource = value("IMEI", s.imeiSource);
    s.serialSource = value("SERIAL", s.serialSource);
    s.reboot = number(value("REBOOT"), 1, 0, 1) == 1;
    s.readback = number(value("READBACK"), 0, 0, 1) == 1;
    s.commandTimeoutS = number(value("COMMAND_TIMEOUT_S"), 30, 1, 3600);
    s.arrivalTimeoutS = number(value("ARRIVAL_TIMEOUT_S"), 60, 1, 3600);
    s.rebootHoldS = number(value("REBOOT_HOLD_S"), 90, 0, 86400);
    s.probeIntervalMs = number(value("PROBE_INTERVAL_MS"), 1000, 100, 60000);
    s.versionDir = IniText::valueIn(text, "GET_DLL_Setting", "ITEM_VERSIONFILE_PATH");
    return s;
}

std::string FastbootSettings::endpointOf(int port) const
{
    const auto it = ports.find(port);
    return it == ports.end() ? std::string() : it->second;
}

} // namespace fastboot

#include "ModemSettings.h"

#include "FileText.h"
#include "PortKeys.h"
#include "UsbLocation.h"
#include "core/IniText.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>

namespace modem {

namespace {

std::string trimmed(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

// The whole text as a decimal number in [low, high]; false otherwise.
bool wholeNumber(const std::string& text, long long low, long long high, long long* value)
{
    const std::string t = trimmed(text);
    if (t.empty() || t.find_first_not_of("0123456789") != std::string::npos)
        return false;
    errno = 0;
    const long long v = std::strtoll(t.c_str(), nullptr, 10);
    if (errno != 0 || v < low || v > high)
        return false;
    *value = v;
    return true;
}

std::vector<std::string> nameList(const std::string& text)
{
    std::vector<std::string> names;
    std::stringstream in(text);
    std::string name;
    while (std::getline(in, name, ',')) {
        name = trimmed(name);
        if (!name.empty())
            names.push_back(name);
    }
    return names;
}

} // namespace

ModemSettings ModemSettings::load(const std::string& stationDir)
{
    return parse(engine::fileText((std::filesystem::path(stationDir) / "config.ini").string()));
}

ModemSettings ModemSettings::parse(const std::string& text)
{
    ModemSettings s;
    const auto value = [&](const char* key) { return trimmed(IniText::valueIn(text, kSection, key)); };
    const auto bad = [&](const char* key, const std::string& given, const std::string& wanted) {
        s.problems.push_back(std::string(key) + "=" + given + " in [" + kSection + "] of config.ini is not " + wanted
                             + "; the default is used.");
    };
    const auto number = [&](const char* key, int* field, long long low, long long high) {
        const std::string given = value(key);
        long long v = 0;
        if (given.empty())
            return;
        if (wholeNumber(given, low, high, &v))
            *field = int(v);
        else
            bad(key, given, "a number from " + std::to_string(low) + " to " + std::to_string(high));
    };
    const auto flag = [&](const char* key, bool* field) {
        int v = *field ? 1 : 0;
        number(key, &v, 0, 1);
        *field = v == 1;
    };
    const auto atCommand = [&](const char* key, std::string* field) {
        const std::string given = value(key);
        if (given.empty())
            return;
        if (given.rfind("at:", 0) == 0 && given.size() > 3)
            *field = trimmed(given.substr(3));
        else
            bad(key, given, "at:<command>");
    };

    for (const auto& [port, endpoint] : engine::portKeys(text, kSection)) {
        if (endpoint.rfind("usb:", 0) == 0 && usb::UsbLocation::parse(endpoint.substr(4)))
            s.ports[port] = endpoint;
        else
            bad(engine::portKey(port).c_str(), endpoint, "usb:<socket>");
    }
    number("AT_INTERFACE", &s.atInterface, 0, 255);
    atCommand("DISPLAY_VERSION", &s.displayCommand);
    atCommand("INTERNAL_VERSION", &s.internalCommand);
    atCommand("IMEI", &s.imeiCommand);
    if (const std::string ids = value("EDL_IDS"); !ids.empty()) {
        std::string wrong;
        if (const auto parsed = usb::parseUsbIds(ids, &wrong); parsed && !parsed->empty())
            s.edlIds = *parsed;
        else
            bad("EDL_IDS", ids, "a list of vid:pid pairs in hex");
    }
    atCommand("EDL_SWITCH", &s.edlSwitch);
    number("ARRIVAL_TIMEOUT_S", &s.arrivalTimeoutS, 1, 3600);
    s.package.programmer = value("PROGRAMMER");
    s.package.rawprogram = nameList(value("RAWPROGRAM"));
    s.package.patch = nameList(value("PATCH"));
    if (const std::string storage = value("STORAGE"); !storage.empty()) {
        if (ModemFlash::isStorage(storage))
            s.storage = storage;
        else
            bad("STORAGE", storage, "one of emmc, ufs, nand, spinor");
    }
    if (const std::string payload = value("MAX_PAYLOAD"); !payload.empty()) {
        long long v = 0;
        if (wholeNumber(payload, 4096, 64ll * 1024 * 1024, &v))
            s.maxPayload = uint64_t(v);
        else
            bad("MAX_PAYLOAD", payload, "a byte count from 4096 to 67108864");
    }
    flag("RESET", &s.reset);
    flag("READBACK", &s.readback);
    number("REBOOT_HOLD_S", &s.rebootHoldS, 0, 86400);
    number("PROBE_INTERVAL_MS", &s.probeIntervalMs, 100, 60000);
    s.versionDir = IniText::valueIn(text, "GET_DLL_Setting", "ITEM_VERSIONFILE_PATH");
    return s;
}

std::string ModemSettings::endpointOf(int port) const
{
    const auto it = ports.find(port);
    return it == ports.end() ? std::string() : it->second;
}

std::string ModemSettings::edlIdsText() const
{
    std::string text;
    for (const usb::UsbId& id : edlIds) {
        char one[16];
        std::snprintf(one, sizeof one, "%04x:%04x", id.vendor, id.product);
        text += (text.empty() ? "" : ",") + std::string(one);
    }
    return text;
}

ModemFlash::Settings ModemSettings::flashSettings() const
{
    ModemFlash::Settings flash;
    flash.storage = storage;
    flash.maxPayload = maxPayload;
    flash.reset = reset;
    return flash;
}

} // namespace modem

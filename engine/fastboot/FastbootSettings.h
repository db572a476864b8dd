#pragma once

#include <map>
#include <string>

namespace fastboot {

// The engine's settings: section "FASTBOOT_Engine" of config.ini in the
// station folder, and the version directory from "GET_DLL_Setting". Read
// anew for every operation, so the tool's writes take effect at once.
struct FastbootSettings
{
    std::map<int, std::string> ports; // PORT.<n>: port number -> endpoint
    // Where each identity field comes from: "getvar:<name>" or "oem:<command>".
    std::string displaySource = "getvar:ro.build.display.id";
    std::string internalSource = "getvar:ro.build.sw_internal_version";
    std::string imeiSource = "getvar:imei";
    std::string serialSource = "getvar:serialno";
    bool reboot = true;
    bool readback = false;
    int commandTimeoutS = 30;
    int arrivalTimeoutS = 60;
    // How long a unit the engine rebooted keeps its socket while nothing
    // is there (USB: after the reboot; TCP: after its endpoint went silent).
    int rebootHoldS = 90;
    // How often the presence monitor looks at the ports.
    int probeIntervalMs = 1000;
    std::string versionDir;

    static FastbootSettings load(const std::string& stationDir);
    // The endpoint of a port number; empty when none is set.
    std::string endpointOf(int port) const;
};

} // namespace fastboot

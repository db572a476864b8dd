#pragma once

#include "FlashPackage.h"
#include "ModemFlash.h"
#include "UsbIds.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace modem {

// The modem engine's settings: section "MODEM_Engine" of config.ini in the
// station folder, and the version directory from "GET_DLL_Setting". Read
// anew for every operation. A value the engine cannot use keeps its default
// and is named in problems, for the operator.
struct ModemSettings
{
    static constexpr char kSection[] = "MODEM_Engine";

    std::map<int, std::string> ports; // PORT.<n>: port number -> "usb:<location>"
    int atInterface = -1;             // AT_INTERFACE; -1: the first tty that answers
    // Identity sources, each "at:<command>"; the command is kept here.
    std::string displayCommand = "AT+CGMR";
    std::string internalCommand = "AT+CGMR";
    std::string imeiCommand = "AT+CGSN";
    std::vector<usb::UsbId> edlIds{{0x05c6, 0x9008}}; // EDL_IDS: download mode
    std::string edlSwitch;            // EDL_SWITCH=at:<command>; no default
    int arrivalTimeoutS = 60;
    PackageChoice package;            // PROGRAMMER, RAWPROGRAM, PATCH
    std::string storage = "emmc";
    uint64_t maxPayload = 1024 * 1024;
    bool reset = true;
    bool readback = true;
    int rebootHoldS = 90;             // a reset module keeps its socket this long while away
    int probeIntervalMs = 1000;
    std::string versionDir;
    std::vector<std::string> problems;

    static ModemSettings load(const std::string& stationDir);
    static ModemSettings parse(const std::string& iniText);
    std::string endpointOf(int port) const;
    // "EDL_IDS" as the USB socket library takes it.
    std::string edlIdsText() const;
    // What ModemFlash takes from these settings.
    ModemFlash::Settings flashSettings() const;
};

} // namespace modem

#pragma once

#include "FastbootClient.h"
#include "FastbootSettings.h"

#include <string>

namespace fastboot {

// The three fields the tool shows and checks: display version, internal
// version and IMEI, each read from the source the settings name; and the
// serial number, which with the IMEI tells one unit from another.
struct DeviceIdentity
{
    std::string display;
    std::string internal;
    std::string imei;
    std::string serial;

    // A field whose source answers FAIL stays empty; false only when the
    // device could not be asked (the client's failure says why).
    static bool read(FastbootClient& client, const FastbootSettings& settings, DeviceIdentity* identity);
    // "display,internal,IMEI", as QueryDevice reports it. The tool splits at
    // the first two commas, so a comma inside a field is replaced.
    std::string joined() const;
};

} // namespace fastboot

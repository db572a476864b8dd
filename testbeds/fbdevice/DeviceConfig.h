#pragma once

#include "DeviceModel.h"

#include <string>
#include <vector>

namespace fbdevice {

// The devices of an fbdevice config file: sections "[DEVICE.1]",
// "[DEVICE.2]" ... up to the first one missing, each with
//   PORT=<tcp port on 127.0.0.1, 0 = any free one>
//   DISPLAY=, INTERNAL=, IMEI=, PRODUCT=
//   MAX_DOWNLOAD_SIZE=<bytes, 0x.. allowed>   (default 256 MiB)
//   FAIL_PARTITION=<partition whose flash answers FAIL>
//   DROP_AFTER=<data bytes after which the connection drops>
//   DELAY_MS_PER_MIB=<ms>, AWAY_MS=<ms a reboot takes, default 500>
//   LINGER_MS=<ms the bootloader still answers after a reboot's OKAY>
//   NEVER_REBOOTS=1 (reboot-bootloader answers OKAY and nothing happens)
//   OEM_COMMAND=<command>, OEM_ANSWER=<its INFO line>
//   STORAGE=<folder for the partition files, default device-<n> beside the config>
struct DeviceConfig
{
    struct Device
    {
        int port = 0;
        DeviceSettings settings;
    };
    std::vector<Device> devices;

    static bool load(const std::string& path, DeviceConfig* config, std::string* why);
};

} // namespace fbdevice

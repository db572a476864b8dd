#pragma once

#include "UsbBus.h"
#include "UsbHost.h"
#include "UsbLocation.h"
#include "UsbPortMap.h"

#include <string>
#include <string_view>

namespace fastboot {

// The USB socket library as the fastboot engine uses it.
using usb::UsbBus;
using usb::UsbDeviceInfo;
using usb::UsbHost;
using usb::UsbLocation;

// The fastboot interface: vendor specific, subclass 0x42, protocol 3.
constexpr usb::UsbInterfaceClass kFastbootInterface{0xff, 0x42, 0x03};

// Boot-ROM download modes of common phone and modem SoCs: devices with these
// ids are present but cannot take a fastboot download.
constexpr std::string_view kDefaultBootRomIds = "05c6:9008,0e8d:0003,1782:4d00,1f3a:efe8,2207:350b,1b8e:c003";

// The engine's USB settings: section [FASTBOOT_Engine] of config.ini.
inline usb::UsbPortSettings usbPortSettings(const std::string& configPath)
{
    return {configPath, "FASTBOOT_Engine", std::string(kDefaultBootRomIds)};
}

} // namespace fastboot

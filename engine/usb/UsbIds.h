#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fastboot {

// A USB vendor and product id pair.
struct UsbId {
    uint16_t vendor = 0;
    uint16_t product = 0;
    friend bool operator==(const UsbId&, const UsbId&) = default;
};

// Boot-ROM download modes of common phone and modem SoCs: devices with these
// ids are present but cannot take a fastboot download.
constexpr std::string_view kDefaultBootRomIds = "05c6:9008,0e8d:0003,1782:4d00,1f3a:efe8,2207:350b,1b8e:c003";

// "vid:pid,vid:pid" in hex (blanks around entries allowed, "0x" optional).
// nullopt when an entry is not such a pair; *bad then names it.
std::optional<std::vector<UsbId>> parseUsbIds(std::string_view text, std::string* bad = nullptr);

} // namespace fastboot

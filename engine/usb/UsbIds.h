#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace usb {

// A USB vendor and product id pair.
struct UsbId {
    uint16_t vendor = 0;
    uint16_t product = 0;
    friend bool operator==(const UsbId&, const UsbId&) = default;
};

// The class, subclass and protocol of the interface an engine talks to.
struct UsbInterfaceClass {
    uint8_t classCode = 0;
    uint8_t subclass = 0;
    uint8_t protocol = 0;
};

// "vid:pid,vid:pid" in hex (blanks around entries allowed, "0x" optional).
// nullopt when an entry is not such a pair; *bad then names it.
std::optional<std::vector<UsbId>> parseUsbIds(std::string_view text, std::string* bad = nullptr);

} // namespace usb

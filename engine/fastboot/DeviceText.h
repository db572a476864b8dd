#pragma once

#include <string>
#include <string_view>

namespace fastboot {

// Text that a device sends (identity fields, INFO, TEXT and FAIL texts) goes
// to the line's tooltip, the records and terminals. A device must not be
// able to put escape sequences or broken UTF-8 there.
namespace DeviceText {

// Replaces every control character (C0, DEL and the C1 range) and every
// byte that is not part of valid UTF-8 by '?'; tab, CR and LF, which
// devices use as layout, become spaces.
std::string clean(std::string_view text);

// An identity field as the tool is handed it: the fields are joined with
// commas, so a comma inside a field becomes ';'.
std::string field(std::string_view text);

} // namespace DeviceText
} // namespace fastboot

#include "UsbIds.h"

#include <charconv>

namespace usb {

namespace {

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

bool parseHex16(std::string_view text, uint16_t* value)
{
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        text.remove_prefix(2);
    if (text.empty() || text.size() > 4)
        return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value, 16);
    return ec == std::errc() && end == text.data() + text.size();
}

} // namespace

std::optional<std::vector<UsbId>> parseUsbIds(std::string_view text, std::string* bad)
{
    std::vector<UsbId> ids;
    while (!trimmed(text).empty()) {
        const size_t comma = text.find(',');
        const std::string_view entry = trimmed(text.substr(0, comma));
        text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
        if (entry.empty())
            continue;
        const size_t colon = entry.find(':');
        UsbId id;
        if (colon == std::string_view::npos || !parseHex16(entry.substr(0, colon), &id.vendor)
            || !parseHex16(entry.substr(colon + 1), &id.product)) {
            if (bad)
                *bad = std::string(entry);
            return std::nullopt;
        }
        ids.push_back(id);
    }
    return ids;
}

} // namespace usb

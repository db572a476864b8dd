#pragma once

#include <map>
#include <string>
#include <string_view>

namespace sim {

// A small INI reader: "[section]" headers and "key=value" lines. Section and
// key names compare without regard to ASCII case; values are trimmed. Lines
// starting with ';' or '#' are comments. The first occurrence of a key wins.
class IniText final
{
public:
    // A missing or unreadable file reads as an empty text.
    static IniText load(const std::string& path);
    static IniText parse(std::string_view text);

    std::string value(std::string_view section, std::string_view key,
                      std::string_view fallback = {}) const;
    bool contains(std::string_view section, std::string_view key) const;

private:
    static std::string keyOf(std::string_view section, std::string_view key);

    std::map<std::string, std::string> m_values;
};

} // namespace sim

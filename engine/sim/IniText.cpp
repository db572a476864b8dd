#include "IniText.h"

#include <fstream>
#include <iterator>

namespace sim {

namespace {

// Settings files are small; anything larger is not one of ours.
constexpr std::streamsize kMaxIniSize = 1 << 20;

std::string_view trimmed(std::string_view s)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
}

std::string lowered(std::string_view s)
{
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

} // namespace

IniText IniText::load(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return {};
    std::string text(static_cast<size_t>(kMaxIniSize), '\0');
    in.read(text.data(), kMaxIniSize);
    text.resize(static_cast<size_t>(in.gcount()));
    return parse(text);
}

IniText IniText::parse(std::string_view text)
{
    IniText ini;
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    std::string section;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = trimmed(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.empty() || line.front() == ';' || line.front() == '#')
            continue;
        if (line.front() == '[') {
            const size_t close = line.find(']');
            if (close != std::string_view::npos)
                section = std::string(trimmed(line.substr(1, close - 1)));
            continue;
        }
        const size_t eq = line.find('=');
        if (eq == std::string_view::npos)
            continue;
        ini.m_values.emplace(keyOf(section, trimmed(line.substr(0, eq))),
                             std::string(trimmed(line.substr(eq + 1))));
    }
    return ini;
}

std::string IniText::value(std::string_view section, std::string_view key,
                           std::string_view fallback) const
{
    const auto it = m_values.find(keyOf(section, key));
    return it == m_values.end() ? std::string(fallback) : it->second;
}

bool IniText::contains(std::string_view section, std::string_view key) const
{
    return m_values.count(keyOf(section, key)) != 0;
}

std::string IniText::keyOf(std::string_view section, std::string_view key)
{
    return lowered(section) + '\n' + lowered(key);
}

} // namespace sim

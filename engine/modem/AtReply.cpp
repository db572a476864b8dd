#include "AtReply.h"

#include <cctype>
#include <vector>

namespace modem {

namespace {

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

bool sameText(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

bool startsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

bool isErrorLine(std::string_view line)
{
    return line == "ERROR" || startsWith(line, "+CME ERROR") || startsWith(line, "+CMS ERROR");
}

// The complete lines of raw; a last line without its terminator is still
// arriving and is left out.
std::vector<std::string_view> completeLines(std::string_view raw)
{
    std::vector<std::string_view> lines;
    size_t start = 0;
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\r' || raw[i] == '\n') {
            lines.push_back(raw.substr(start, i - start));
            start = i + 1;
        }
    }
    return lines;
}

} // namespace

std::string AtReply::valueOf(std::string_view line)
{
    std::string_view value = trimmed(line);
    if (value.size() > 1 && value.front() == '+') {
        size_t i = 1;
        while (i < value.size() && (std::isalnum(static_cast<unsigned char>(value[i])) || value[i] == '_'))
            ++i;
        if (i > 1 && i < value.size() && value[i] == ':')
            value = trimmed(value.substr(i + 1));
    }
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        value = trimmed(value.substr(1, value.size() - 2));
    return std::string(value);
}

AtReply AtReply::parse(std::string_view command, std::string_view raw)
{
    AtReply reply;
    const std::string_view echo = trimmed(command);
    bool haveValue = false;
    for (std::string_view line : completeLines(raw)) {
        line = trimmed(line);
        if (line == "OK") {
            reply.kind = Kind::Ok;
            return reply;
        }
        if (isErrorLine(line)) {
            reply.kind = Kind::Error;
            reply.value.clear();
            return reply;
        }
        if (line.empty() || haveValue || sameText(line, echo))
            continue;
        reply.value = valueOf(line);
        haveValue = !reply.value.empty();
    }
    return reply;
}

} // namespace modem

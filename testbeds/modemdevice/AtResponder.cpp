#include "AtResponder.h"

#include <algorithm>
#include <cctype>

namespace modemdevice {

namespace {

std::string upper(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::toupper(c)); });
    return text;
}

} // namespace

AtResponder::Next AtResponder::receive(const ModuleSettings& settings, const std::string& revision, const char* data,
                                       size_t size, const Send& send)
{
    Next next = Next::Continue;
    for (size_t i = 0; i < size; ++i) {
        const char c = data[i];
        if (c == '\r' || c == '\n') {
            if (!m_line.empty() && next == Next::Continue)
                next = line(settings, revision, m_line, send);
            m_line.clear();
        } else if (m_line.size() < kMaxLine) {
            m_line.push_back(c);
        }
    }
    return next;
}

AtResponder::Next AtResponder::line(const ModuleSettings& settings, const std::string& revision,
                                    const std::string& command, const Send& send)
{
    if (settings.silent)
        return Next::Continue;
    std::string reply = settings.echo ? command + "\r" : std::string();
    const std::string key = upper(command);
    const auto value = [&](const std::string& name, const std::string& text) {
        return "\r\n" + (settings.quoted ? "+" + name + ": \"" + text + "\"" : text) + "\r\n\r\nOK\r\n";
    };
    Next next = Next::Continue;
    if (key == "AT") {
        reply += "\r\nOK\r\n";
    } else if (key == "AT+CGSN" && !settings.imei.empty()) {
        reply += value("CGSN", settings.imei);
    } else if (key == "AT+CGMR") {
        reply += value("CGMR", revision);
    } else if (!settings.switchCommand.empty() && key == upper(settings.switchCommand)) {
        reply += "\r\nOK\r\n";
        next = Next::SwitchToDownload;
    } else {
        reply += "\r\nERROR\r\n";
    }
    send(reply);
    return next;
}

} // namespace modemdevice

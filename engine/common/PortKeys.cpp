#include "PortKeys.h"

#include "core/IniText.h"

namespace engine {

std::string portKey(int port)
{
    return "PORT." + std::to_string(port);
}

std::map<int, std::string> portKeys(std::string_view iniText, std::string_view section)
{
    std::map<int, std::string> ports;
    for (int n = 1; n <= kMaxPortKey; ++n) {
        std::string value = IniText::valueIn(iniText, section, portKey(n));
        if (!value.empty())
            ports[n] = std::move(value);
    }
    return ports;
}

} // namespace engine

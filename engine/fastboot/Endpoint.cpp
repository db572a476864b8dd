#include "Endpoint.h"

#include "TcpTransport.h"
#include "FastbootUsb.h"
#include "UsbTransport.h"

namespace fastboot {

bool Endpoint::parse(const std::string& text, Endpoint* endpoint, std::string* why)
{
    if (text.starts_with("usb:")) {
        const auto location = UsbLocation::parse(text.substr(4));
        if (!location) {
            *why = "bad endpoint \"" + text + "\" (expected usb:<bus>-<port>[.<port>...])";
            return false;
        }
        *endpoint = Endpoint{Kind::Usb, {}, {}, location->socket().text(), text};
        return true;
    }
    if (!text.starts_with("tcp:")) {
        *why = "unknown endpoint \"" + text + "\" (expected tcp:<host>:<port> or usb:<location>)";
        return false;
    }
    const std::string rest = text.substr(4);
    const size_t colon = rest.rfind(':');
    std::string host = colon == std::string::npos ? std::string() : rest.substr(0, colon);
    const std::string port = colon == std::string::npos ? std::string() : rest.substr(colon + 1);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    const bool digits = !port.empty() && port.size() <= 5 && port.find_first_not_of("0123456789") == std::string::npos;
    if (host.empty() || !digits || std::stoi(port) == 0 || std::stoi(port) > 65535) {
        *why = "bad endpoint \"" + text + "\" (expected tcp:<host>:<port>)";
        return false;
    }
    *endpoint = Endpoint{Kind::Tcp, host, port, {}, text};
    return true;
}

std::unique_ptr<Transport> Endpoint::open(usb::UsbBus* usb, HostResolver& resolver, Clock::time_point deadline,
                                         std::string* why) const
{
    if (kind == Kind::Usb) {
        if (!usb) {
            *why = "USB is not available on this machine";
            return nullptr;
        }
        return UsbTransport::open(*usb, *UsbLocation::parse(location), deadline, why);
    }
    return TcpTransport::open(resolver, host, port, deadline, why);
}

} // namespace fastboot

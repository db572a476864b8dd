#pragma once

#include "Transport.h"

#include <memory>
#include <string>

namespace usb {
class UsbBus;
}

namespace fastboot {

class HostResolver;

// Where a device is reached: "tcp:<host>:<port>" (a numeric IPv6 host in
// brackets), or "usb:<location>", a USB socket by its port chain ("1-2.3").
struct Endpoint
{
    enum class Kind { Tcp, Usb };
    Kind kind = Kind::Tcp;
    std::string host;
    std::string port;
    std::string location; // Usb: the socket, at its USB 2 name
    std::string text; // as written in config.ini

    static bool parse(const std::string& text, Endpoint* endpoint, std::string* why);

    // Connects to the device; null with *why when it does not answer as a
    // fastboot device before the deadline. usb is the engine's bus (null
    // where the machine has no USB support); resolver, the engine's name
    // lookup for "tcp:" hosts.
    std::unique_ptr<Transport> open(usb::UsbBus* usb, HostResolver& resolver, Clock::time_point deadline,
                                    std::string* why) const;
};

} // namespace fastboot

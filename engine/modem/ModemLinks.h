#pragma once

#include "PacketLink.h"

#include <memory>
#include <string>
#include <vector>

namespace modem {

// How the modem engine reaches the module in a socket: what the bus shows
// there, the AT ttys of a module in normal mode, and the bulk link of one in
// download mode. The USB side (UsbModemLinks) is the real one; tests give
// links into emulated modules in the same process. A socket is named by its
// location ("1-1.3").
class ModemLinks
{
public:
    enum class Mode {
        None,     // nothing in the socket
        Normal,   // a module running its firmware (vendor interfaces, an AT tty)
        Download, // a chip in emergency download mode (EDL_IDS)
        Other,    // a device that is neither
    };
    // One enumeration of a device: the next one differs in its address.
    struct State
    {
        Mode mode = Mode::None;
        int address = 0;
        friend bool operator==(const State&, const State&) = default;
    };

    virtual ~ModemLinks() = default;

    // What the bus's last look found; no I/O on any device.
    virtual State state(const std::string& socket) const = 0;
    // Waits until the socket holds a device in the mode at an address other
    // than notAddress (0: any); false at the deadline.
    virtual bool waitFor(const std::string& socket, Mode mode, int notAddress, Clock::time_point deadline) = 0;
    // The AT ttys of the module in normal mode, in interface order (only
    // that interface's when atInterface >= 0); names for openTty. Empty
    // while the module's serial driver has not bound yet.
    virtual std::vector<std::string> ttys(const std::string& socket, int atInterface) const = 0;
    virtual std::unique_ptr<PacketLink> openTty(const std::string& tty, std::string* why) = 0;
    // Opens and claims the download-mode interface of the chip in the socket.
    virtual std::unique_ptr<PacketLink> openDownload(const std::string& socket, Clock::time_point deadline,
                                                     std::string* why) = 0;
    // config.ini changed: EDL_IDS ("vid:pid,...") and the port bindings again.
    virtual void reload(const std::string& edlIds) { (void)edlIds; }
};

} // namespace modem

#pragma once

#include "ModemLinks.h"
#include "ModemSettings.h"

#include <chrono>
#include <string>

namespace modem {

// What a module in normal mode says about itself over AT, and how reading
// it went.
struct ModuleIdentity
{
    enum class Outcome {
        Read,    // the fields below hold the answers (an ERROR reply leaves one empty)
        NoTty,   // the module shows no tty (yet): its serial driver has not bound
        Silent,  // no tty answered AT
        Lost,    // the tty failed or went away while reading
    };

    std::string display;
    std::string internal;
    std::string imei;

    // How long one tty has to answer AT, and each identity command.
    static constexpr std::chrono::milliseconds kProbeTimeout{700};
    static constexpr std::chrono::milliseconds kCommandTimeout{2000};

    // "display,internal,IMEI", a comma inside a field replaced.
    std::string joined() const;

    // The tty of the module in the socket that answers AT: the one of
    // AT_INTERFACE, or the first that answers. *tty gets it. position, when
    // given, is where in the module's list of ttys the one that answered
    // last time was: tried first, and set to the one that answers (the
    // names change when the module comes back, their order does not).
    static Outcome findAtPort(ModemLinks& links, const std::string& socket, const ModemSettings& settings,
                              std::unique_ptr<PacketLink>* tty, std::string* why, size_t* position = nullptr);
    // Reads the identity over an open AT tty.
    static Outcome readFrom(PacketLink& tty, const ModemSettings& settings, ModuleIdentity* identity,
                            std::string* why);
    // Both in one.
    static Outcome read(ModemLinks& links, const std::string& socket, const ModemSettings& settings,
                        ModuleIdentity* identity, std::string* why, size_t* position = nullptr);
};

} // namespace modem

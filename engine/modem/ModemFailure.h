#pragma once

#include <string>

namespace modem {

// Why a step with a module failed. The engine turns each kind into its own
// result code; the text is written for the operator.
struct ModemFailure
{
    enum class Kind {
        None,
        Timeout,           // the module stopped answering
        ConnectionLost,    // the link failed or the module went away
        ProgrammerRefused, // Sahara ended the programmer with an error status
        FirehoseNak,       // the programmer refused a command
        BadPackage,        // a file or an XML line of the package is wrong
        BadSettings,       // a key of the engine's settings has a value it cannot use
        Protocol,          // the module said something that makes no sense
    };

    Kind kind = Kind::None;
    std::string text;

    explicit operator bool() const { return kind != Kind::None; }
};

} // namespace modem

#pragma once

#include "PacketLink.h"

#include <string>

namespace modem {

// What one AT command gave.
struct AtResult
{
    enum class Status {
        Ok,       // "OK": value holds the reply's value (may be empty)
        Error,    // "ERROR" or "+CME ERROR": the field stays empty
        Silent,   // no final line before the deadline
        Flood,    // more than the reply buffer without a final line
        LinkLost, // the tty failed or went away
    };

    Status status = Status::Silent;
    std::string value;
    std::string text; // for the operator when status is not Ok or Error
};

// AT commands over a tty: a command line out, bytes in until the final
// result line, each command bounded by a deadline and the reply by a buffer
// limit, so a module that chatters without end cannot grow memory.
class AtPort final
{
public:
    static constexpr size_t kDefaultLimit = 16 * 1024;

    explicit AtPort(PacketLink& tty, size_t replyLimit = kDefaultLimit);

    AtResult command(const std::string& command, Clock::time_point deadline);

private:
    void drainStale();

    PacketLink& m_tty;
    size_t m_limit;
};

} // namespace modem

#pragma once

#include <string>
#include <string_view>

namespace modem {

// One AT command's reply, read from the raw bytes the tty gave.
//
// The value is the first line of the reply that is not the echo of the
// command, not "OK" and not empty, with a leading "+NAME: " taken off and
// blanks trimmed. A value wholly inside double quotes (+CGSN: "3569...")
// loses the quotes too: the quotes are syntax, and an identity compared
// against a record must not depend on whether a module quotes it.
// "ERROR", "+CME ERROR: ..." and "+CMS ERROR: ..." end the reply with an
// empty value. Until a final line has arrived the reply is Incomplete.
struct AtReply
{
    enum class Kind { Incomplete, Ok, Error };

    Kind kind = Kind::Incomplete;
    std::string value;

    static AtReply parse(std::string_view command, std::string_view raw);
    // "+CGSN: "123"" -> "123"; the trimming of one value line.
    static std::string valueOf(std::string_view line);
};

} // namespace modem

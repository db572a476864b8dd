#include "ModuleIdentity.h"

#include "AtPort.h"

#include <map>

namespace modem {

namespace {

// The tool gets the fields joined with commas: a comma inside one becomes
// ';', and control characters '?'.
std::string field(const std::string& text)
{
    std::string out = text;
    for (char& c : out) {
        if (c == ',')
            c = ';';
        else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    }
    return out;
}

ModuleIdentity::Outcome outcomeOf(const AtResult& result)
{
    switch (result.status) {
    case AtResult::Status::Ok:
    case AtResult::Status::Error:
        return ModuleIdentity::Outcome::Read;
    case AtResult::Status::LinkLost:
        return ModuleIdentity::Outcome::Lost;
    case AtResult::Status::Silent:
    case AtResult::Status::Flood:
        break;
    }
    return ModuleIdentity::Outcome::Silent;
}

} // namespace

std::string ModuleIdentity::joined() const
{
    return field(display) + ',' + field(internal) + ',' + field(imei);
}

ModuleIdentity::Outcome ModuleIdentity::findAtPort(ModemLinks& links, const std::string& socket,
                                                   const ModemSettings& settings, std::unique_ptr<PacketLink>* tty,
                                                   std::string* why, size_t* position)
{
    const std::vector<std::string> names = links.ttys(socket, settings.atInterface);
    std::vector<size_t> order;
    if (position && *position < names.size())
        order.push_back(*position);
    for (size_t i = 0; i < names.size(); ++i) {
        if (order.empty() || order.front() != i)
            order.push_back(i);
    }
    if (names.empty()) {
        *why = settings.atInterface >= 0
            ? "the module shows no tty on interface " + std::to_string(settings.atInterface) + " (AT_INTERFACE)"
            : "the module shows no tty";
        return Outcome::NoTty;
    }
    std::string last;
    for (const size_t i : order) {
        const std::string& name = names[i];
        std::string openWhy;
        auto link = links.openTty(name, &openWhy);
        if (!link) {
            last = name + ": " + openWhy;
            continue;
        }
        AtPort port(*link);
        const AtResult result = port.command("AT", Clock::now() + kProbeTimeout);
        if (result.status == AtResult::Status::Ok) {
            *tty = std::move(link);
            if (position)
                *position = i;
            return Outcome::Read;
        }
        last = name + ": " + (result.text.empty() ? "answers ERROR to AT" : result.text);
    }
    *why = "no tty of the module answers AT (" + last + ")";
    return Outcome::Silent;
}

ModuleIdentity::Outcome ModuleIdentity::readFrom(PacketLink& tty, const ModemSettings& settings,
                                                 ModuleIdentity* identity, std::string* why)
{
    AtPort port(tty);
    // A command asked for two fields is sent once.
    std::map<std::string, std::string> answers;
    const auto ask = [&](const std::string& command, std::string* value) {
        if (const auto it = answers.find(command); it != answers.end()) {
            *value = it->second;
            return Outcome::Read;
        }
        const AtResult result = port.command(command, Clock::now() + kCommandTimeout);
        const Outcome outcome = outcomeOf(result);
        if (outcome != Outcome::Read) {
            *why = result.text;
            return outcome;
        }
        *value = result.status == AtResult::Status::Ok ? result.value : std::string();
        answers[command] = *value;
        return Outcome::Read;
    };
    ModuleIdentity read;
    for (const auto& [command, value] : {std::pair{&settings.displayCommand, &read.display},
                                         std::pair{&settings.internalCommand, &read.internal},
                                         std::pair{&settings.imeiCommand, &read.imei}}) {
        if (const Outcome outcome = ask(*command, value); outcome != Outcome::Read)
            return outcome;
    }
    *identity = std::move(read);
    return Outcome::Read;
}

ModuleIdentity::Outcome ModuleIdentity::read(ModemLinks& links, const std::string& socket,
                                             const ModemSettings& settings, ModuleIdentity* identity,
                                             std::string* why, size_t* position)
{
    std::unique_ptr<PacketLink> tty;
    const Outcome found = findAtPort(links, socket, settings, &tty, why, position);
    if (found != Outcome::Read)
        return found;
    return readFrom(*tty, settings, identity, why);
}

} // namespace modem

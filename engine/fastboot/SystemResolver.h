#pragma once

#include "HostResolver.h"


namespace fastboot {

// The system's name lookup through getaddrinfo_a. A lookup still under way
// at its caller's deadline stays in a process-wide table until it is done;
// its request memory belongs to the C library until then, so the table is
// never freed, whichever resolver object started the lookup.
class SystemResolver final : public HostResolver
{
public:
    Outcome resolve(const std::string& host, const std::string& port, Clock::time_point deadline,
                    std::vector<Address>* addresses, std::string* error) override;

    // One lookup under way or done (its request belongs to the C library).
    struct Lookup;

private:
    static std::shared_ptr<Lookup> lookupFor(const std::string& host, const std::string& port, std::string* error);
    // True once the lookup is done; its result is then in the Lookup.
    static bool harvest(Lookup& lookup);
};

} // namespace fastboot

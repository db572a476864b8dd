#pragma once

#include "HostResolver.h"

#include <memory>

namespace fastboot {

// The system's name lookup through getaddrinfo_a. Each engine owns its own
// resolver, but the lookups under way are kept in one process-wide table: a
// lookup not done by its caller's deadline goes on inside the C library after
// the caller, its resolver and even its engine are gone, and the library
// owns its request memory until then, so the table is never freed.
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

#pragma once

#include "HostResolver.h"

#include <map>
#include <mutex>

namespace fastboot {

// The system's name lookup through getaddrinfo_a. A lookup still under way
// at its caller's deadline stays in a table until it is done; its request
// memory belongs to the C library until then and is never freed early.
class SystemResolver final : public HostResolver
{
public:
    Outcome resolve(const std::string& host, const std::string& port, Clock::time_point deadline,
                    std::vector<Address>* addresses, std::string* error) override;

private:
    struct Lookup;
    std::shared_ptr<Lookup> lookupFor(const std::string& host, const std::string& port, std::string* error);
    // True once the lookup is done; its result is then in the Lookup.
    bool harvest(Lookup& lookup);

    std::mutex m_mutex;
    std::map<std::string, std::shared_ptr<Lookup>> m_pending; // guarded by m_mutex
};

} // namespace fastboot

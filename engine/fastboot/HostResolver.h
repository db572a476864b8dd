#pragma once

#include "Transport.h"

#include <string>
#include <vector>

#include <sys/socket.h>

namespace fastboot {

// Name lookups that never hold the caller past its deadline. The system's
// lookup runs in the C library's asynchronous resolver: one that is not done
// by the deadline goes on there and is picked up by the next call for the
// same name, so a name that never resolves costs one lookup at a time and
// no thread of the engine's. Numeric addresses resolve at once.
class HostResolver
{
public:
    enum class Outcome { Resolved, Failed, Pending };

    struct Address
    {
        sockaddr_storage storage{};
        socklen_t length = 0;
        int family = 0;
        int socktype = 0;
        int protocol = 0;
    };

    virtual ~HostResolver() = default;

    // The stream addresses of host:port. Returns by the deadline: Pending
    // when the lookup is not done yet; Failed with *error set.
    virtual Outcome resolve(const std::string& host, const std::string& port, Clock::time_point deadline,
                            std::vector<Address>* addresses, std::string* error) = 0;
};

} // namespace fastboot

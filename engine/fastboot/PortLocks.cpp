#include "PortLocks.h"

namespace fastboot {

std::shared_ptr<std::timed_mutex> PortLocks::mutexOf(const std::string& endpoint)
{
    std::lock_guard lock(m_mutex);
    auto& entry = m_locks[endpoint];
    if (!entry)
        entry = std::make_shared<std::timed_mutex>();
    return entry;
}

PortLocks::Lock PortLocks::acquire(const std::string& endpoint, std::chrono::milliseconds timeout)
{
    // The mutexes live as long as the engine: the map never drops one.
    return Lock(*mutexOf(endpoint), timeout);
}

PortLocks::Lock PortLocks::acquire(const std::string& endpoint)
{
    return Lock(*mutexOf(endpoint));
}

} // namespace fastboot

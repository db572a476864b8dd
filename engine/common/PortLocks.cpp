#include "PortLocks.h"

namespace engine {

PortLocks::Lock PortLocks::acquire(const std::string& endpoint, std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    if (!m_released.wait_for(lock, timeout, [&] { return m_held.count(endpoint) == 0; }))
        return Lock(nullptr, endpoint);
    m_held.insert(endpoint);
    return Lock(this, endpoint);
}

PortLocks::Lock PortLocks::acquire(const std::string& endpoint)
{
    std::unique_lock lock(m_mutex);
    m_released.wait(lock, [&] { return m_held.count(endpoint) == 0; });
    m_held.insert(endpoint);
    return Lock(this, endpoint);
}

void PortLocks::release(const std::string& endpoint)
{
    std::lock_guard lock(m_mutex);
    m_held.erase(endpoint);
    m_released.notify_all();
}

} // namespace engine

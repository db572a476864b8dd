#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>

namespace engine {

// One lock per endpoint: a device serves one host connection at a time, so
// the engine's own operations on it (probe, query, download) take turns.
// Built on a plain mutex and a condition: timed mutexes lock through calls
// that ThreadSanitizer does not see.
class PortLocks final
{
public:
    // Holds an endpoint until it goes out of scope, when it owns it.
    class Lock final
    {
    public:
        Lock(PortLocks* owner, std::string endpoint) : m_owner(owner), m_endpoint(std::move(endpoint)) {}
        ~Lock() { if (m_owner) m_owner->release(m_endpoint); }
        Lock(Lock&& other) noexcept : m_owner(other.m_owner), m_endpoint(std::move(other.m_endpoint)) { other.m_owner = nullptr; }
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;
        Lock& operator=(Lock&&) = delete;
        bool owns_lock() const { return m_owner != nullptr; }

    private:
        PortLocks* m_owner;
        std::string m_endpoint;
    };

    // Waits up to the timeout; the returned lock owns nothing on timeout.
    Lock acquire(const std::string& endpoint, std::chrono::milliseconds timeout);
    // Waits as long as it takes.
    Lock acquire(const std::string& endpoint);

private:
    void release(const std::string& endpoint);

    std::mutex m_mutex;
    std::condition_variable m_released;
    std::set<std::string> m_held; // guarded by m_mutex
};

} // namespace engine

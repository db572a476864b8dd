#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace fastboot {

// One lock per endpoint: a device serves one host connection at a time, so
// the engine's own operations on it (probe, query, download) take turns.
class PortLocks final
{
public:
    using Lock = std::unique_lock<std::timed_mutex>;

    // Waits up to the timeout; the returned lock owns nothing on timeout.
    Lock acquire(const std::string& endpoint, std::chrono::milliseconds timeout);
    // Waits as long as it takes.
    Lock acquire(const std::string& endpoint);

private:
    std::shared_ptr<std::timed_mutex> mutexOf(const std::string& endpoint);

    std::mutex m_mutex;
    std::map<std::string, std::shared_ptr<std::timed_mutex>> m_locks;
};

} // namespace fastboot

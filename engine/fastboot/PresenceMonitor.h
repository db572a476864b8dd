#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <set>
#include <thread>

namespace fastboot {

// Polls the configured endpoints about once a second on a thread of its own
// and calls onChange (on that thread, holding no lock) when the set of ports
// whose device answers changes.
class PresenceMonitor final
{
public:
    // The ports whose device answers now; gives up early once stop is set.
    using Probe = std::function<std::set<int>(const std::atomic_bool& stop)>;

    PresenceMonitor(Probe probe, std::function<void()> onChange,
                    std::chrono::milliseconds interval = std::chrono::seconds(1));
    ~PresenceMonitor();
    PresenceMonitor(const PresenceMonitor&) = delete;
    PresenceMonitor& operator=(const PresenceMonitor&) = delete;

    void start();
    // Polls at once instead of at the next interval.
    void poke();
    // Stops the thread. A call into onChange that does not return within the
    // deadline (its receiver is stuck) leaves the thread to end on its own.
    void stop(std::chrono::milliseconds deadline = std::chrono::seconds(3));

private:
    struct State;
    static void run(std::shared_ptr<State> state);

    std::shared_ptr<State> m_state;
    std::thread m_thread;
};

} // namespace fastboot

#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

namespace engine {

// Polls the configured endpoints on a thread of its own, about once an
// interval, and calls onChange (on that thread, holding no lock) when a probe
// says that what the ports show has changed.
class PresenceMonitor final
{
public:
    // Looks at every port; true when the tool should hear of a change.
    // Gives up early once stop is set.
    using Probe = std::function<bool(const std::atomic_bool& stop)>;
    // The interval, asked before every wait.
    using Interval = std::function<std::chrono::milliseconds()>;

    PresenceMonitor(Probe probe, std::function<void()> onChange, Interval interval);
    ~PresenceMonitor();
    PresenceMonitor(const PresenceMonitor&) = delete;
    PresenceMonitor& operator=(const PresenceMonitor&) = delete;

    void start();
    // Polls at once instead of at the next interval.
    void poke();
    // Stops the thread and waits for it: as long as the probe's one device
    // operation under way takes (each has a deadline), or a call into
    // onChange (the tool releases the sink's waits before it destroys an
    // engine).
    void stop();

private:
    struct State;
    static void run(std::shared_ptr<State> state);

    std::shared_ptr<State> m_state;
    std::thread m_thread;
};

} // namespace engine

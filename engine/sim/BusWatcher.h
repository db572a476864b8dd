#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace sim {

// Watches the bus folder on a thread of its own and calls onChange on that
// thread whenever a device file appears, disappears or is replaced. Changes
// that arrive together are reported once.
class BusWatcher final
{
public:
    BusWatcher(std::string busDir, std::function<void()> onChange);
    ~BusWatcher();
    BusWatcher(const BusWatcher&) = delete;
    BusWatcher& operator=(const BusWatcher&) = delete;

    // Creates the folder when missing and starts the thread.
    bool start();
    // Stops the thread. No new onChange call starts after stop() has begun.
    // A call already running is waited for up to the deadline; past it the
    // thread is left to end on its own with the state it shares, so that a
    // callback that never returns cannot hang the caller.
    void stop(std::chrono::milliseconds deadline = std::chrono::seconds(3));

private:
    struct State;
    static void run(std::shared_ptr<State> state);

    std::string m_busDir;
    std::shared_ptr<State> m_state;
    std::thread m_thread;
};

} // namespace sim

#include "PresenceMonitor.h"

#include <condition_variable>
#include <mutex>

namespace engine {

struct PresenceMonitor::State
{
    Probe probe;
    std::function<void()> onChange;
    Interval interval;
    std::mutex mutex;
    std::condition_variable wake;
    bool poked = false;
    bool stopping = false;
    std::atomic_bool stopFlag{false}; // stopping, readable without the mutex
};

PresenceMonitor::PresenceMonitor(Probe probe, std::function<void()> onChange, Interval interval)
    : m_state(std::make_shared<State>())
{
    m_state->probe = std::move(probe);
    m_state->onChange = std::move(onChange);
    m_state->interval = interval;
}

PresenceMonitor::~PresenceMonitor()
{
    stop();
}

void PresenceMonitor::start()
{
    if (m_thread.joinable())
        return;
    {
        // The first round starts at once: a poke from before is answered.
        std::lock_guard lock(m_state->mutex);
        m_state->poked = false;
    }
    m_thread = std::thread(&PresenceMonitor::run, m_state);
}

void PresenceMonitor::poke()
{
    std::lock_guard lock(m_state->mutex);
    m_state->poked = true;
    m_state->wake.notify_all();
}

void PresenceMonitor::stop()
{
    if (!m_thread.joinable())
        return;
    {
        std::lock_guard lock(m_state->mutex);
        m_state->stopping = true;
        m_state->stopFlag = true;
        m_state->wake.notify_all();
    }
    m_thread.join();
}

void PresenceMonitor::run(std::shared_ptr<State> state)
{
    for (;;) {
        const bool changed = state->probe(state->stopFlag);
        {
            std::unique_lock lock(state->mutex);
            if (state->stopping)
                return;
        }
        if (changed)
            state->onChange();
        const auto interval = state->interval();
        std::unique_lock lock(state->mutex);
        state->wake.wait_for(lock, interval, [&] { return state->stopping || state->poked; });
        state->poked = false;
        if (state->stopping)
            return;
    }
}

} // namespace engine

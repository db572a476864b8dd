#include "PresenceMonitor.h"

#include <condition_variable>
#include <mutex>

namespace fastboot {

struct PresenceMonitor::State
{
    Probe probe;
    std::function<void()> onChange;
    std::chrono::milliseconds interval;
    std::mutex mutex;
    std::condition_variable wake;
    bool poked = false;
    bool stopping = false;
    std::atomic_bool stopFlag{false}; // stopping, readable without the mutex
    bool exited = false;
};

PresenceMonitor::PresenceMonitor(Probe probe, std::function<void()> onChange, std::chrono::milliseconds interval)
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
    if (!m_thread.joinable())
        m_thread = std::thread(&PresenceMonitor::run, m_state);
}

void PresenceMonitor::poke()
{
    std::lock_guard lock(m_state->mutex);
    m_state->poked = true;
    m_state->wake.notify_all();
}

void PresenceMonitor::stop(std::chrono::milliseconds deadline)
{
    if (!m_thread.joinable())
        return;
    std::unique_lock lock(m_state->mutex);
    m_state->stopping = true;
    m_state->stopFlag = true;
    m_state->wake.notify_all();
    if (m_state->wake.wait_for(lock, deadline, [&] { return m_state->exited; })) {
        lock.unlock();
        m_thread.join();
    } else {
        lock.unlock();
        m_thread.detach(); // it holds its own reference to the state
    }
}

void PresenceMonitor::run(std::shared_ptr<State> state)
{
    std::set<int> known;
    for (;;) {
        const std::set<int> now = state->probe(state->stopFlag);
        {
            std::unique_lock lock(state->mutex);
            if (state->stopping)
                break;
        }
        if (now != known) {
            known = now;
            state->onChange();
        }
        std::unique_lock lock(state->mutex);
        state->wake.wait_for(lock, state->interval, [&] { return state->stopping || state->poked; });
        state->poked = false;
        if (state->stopping)
            break;
    }
    std::lock_guard lock(state->mutex);
    state->exited = true;
    state->wake.notify_all();
}

} // namespace fastboot

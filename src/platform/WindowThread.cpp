#include "platform/WindowThread.h"

#include <QMetaObject>
#include <QObject>
#include <QThread>

#include <condition_variable>

std::mutex& WindowCallMutex()
{
    static std::mutex mutex;
    return mutex;
}

// What a hand-over shares with the functions it has queued, guarded by
// WindowCallMutex(). Queued functions hold it by reference count: they may
// outlive the WindowThread.
struct WindowThread::Relay {
    std::condition_variable changed;
    bool detached = false;
    int waiting = 0;
    QMetaObject::Connection destroyedConnection;
};

// One call's trip; guarded by WindowCallMutex().
struct WindowThread::Trip {
    bool started = false;
    bool finished = false;
    bool abandoned = false; // the caller gave up before it started
};

WindowThread::WindowThread(QObject* context)
    : m_context(context)
    , m_thread(context->thread())
    , m_relay(std::make_shared<Relay>())
{
    // Functions queued to a context that is gone are never run; release
    // their callers instead of leaving them blocked.
    m_relay->destroyedConnection = QObject::connect(context, &QObject::destroyed, [relay = m_relay] {
        std::lock_guard lock(WindowCallMutex());
        relay->detached = true;
        relay->changed.notify_all();
    });
}

WindowThread::~WindowThread()
{
    detach();
    QObject::disconnect(m_relay->destroyedConnection);
}

bool WindowThread::onWindowThread() const
{
    return QThread::currentThread() == m_thread;
}

bool WindowThread::queue(const std::shared_ptr<Trip>& trip, std::function<void()> fn)
{
    auto run = [relay = m_relay, trip, fn = std::move(fn)] {
        {
            std::lock_guard ordered(WindowCallMutex());
            if (relay->detached || trip->abandoned)
                return;
            trip->started = true;
        }
        fn(); // without the lock: fn may run nested event loops
        std::lock_guard ordered(WindowCallMutex());
        trip->finished = true;
        relay->changed.notify_all();
    };
    return QMetaObject::invokeMethod(m_context, std::move(run), Qt::QueuedConnection);
}

void WindowThread::post(std::function<void()> fn)
{
    // Posted with the lock held: the window thread's first lock in the
    // queued function comes after everything this thread wrote.
    std::lock_guard lock(WindowCallMutex());
    // Checked first: once detached, the context may be gone.
    if (m_relay->detached)
        return;
    queue(std::make_shared<Trip>(), std::move(fn));
}

bool WindowThread::call(std::function<void()> fn, Deadline deadline)
{
    std::unique_lock lock(WindowCallMutex());
    if (m_relay->detached)
        return false;
    if (onWindowThread()) {
        // A blocking queued call to oneself would never return.
        lock.unlock();
        fn();
        return true;
    }
    const auto trip = std::make_shared<Trip>();
    if (!queue(trip, std::move(fn)))
        return false;
    const std::shared_ptr<Relay> relay = m_relay;
    ++relay->waiting;
    const auto settled = [&] { return trip->finished || (relay->detached && !trip->started); };
    if (deadline == Deadline::max())
        relay->changed.wait(lock, settled);
    else if (!relay->changed.wait_until(lock, deadline, settled)) {
        if (trip->started)
            relay->changed.wait(lock, settled); // a started call runs to its end
        else
            trip->abandoned = true;
    }
    --relay->waiting;
    return trip->finished;
}

void WindowThread::detach()
{
    std::lock_guard lock(WindowCallMutex());
    m_relay->detached = true;
    m_relay->changed.notify_all();
}

bool WindowThread::isDetached() const
{
    std::lock_guard lock(WindowCallMutex());
    return m_relay->detached;
}

int WindowThread::waiting() const
{
    std::lock_guard lock(WindowCallMutex());
    return m_relay->waiting;
}

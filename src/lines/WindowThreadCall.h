#pragma once

#include <QMetaObject>
#include <QObject>
#include <QThread>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <utility>

// The lock that orders every hand-over to the window thread. It lives
// outside the calls themselves: the window thread must take it before it
// reads anything the calling thread wrote, the call's own captures included.
inline std::mutex& WindowCallMutex()
{
    static std::mutex mutex;
    return mutex;
}

inline std::condition_variable& WindowCallFinished()
{
    static std::condition_variable finished;
    return finished;
}

// Runs fn on the thread of context and returns after it has run: directly
// when the caller already is that thread (a blocking queued call to oneself
// deadlocks), otherwise as a queued call that the caller waits for. While
// the window thread shows a modal box its nested event loop still delivers
// these calls, so the functions called this way must be safe to enter again.
//
// The hand-over is ordered by our own lock rather than by Qt's blocking
// connection, so ThreadSanitizer, which cannot see into Qt's uninstrumented
// event queue, sees it too. context must outlive the call: a call discarded
// unrun would never return.
template <typename Fn>
void RunOnWindowThread(QObject* context, Fn&& fn)
{
    if (QThread::currentThread() == context->thread()) {
        fn();
        return;
    }
    const auto done = std::make_shared<bool>(false); // guarded by WindowCallMutex()
    std::unique_lock lock(WindowCallMutex());
    // Posted with the lock held: the window thread's first lock below
    // comes after everything this thread wrote.
    QMetaObject::invokeMethod(
        context,
        [done, fn = std::forward<Fn>(fn)]() mutable {
            { std::lock_guard ordered(WindowCallMutex()); }
            fn(); // without the lock: fn may run nested event loops
            std::lock_guard ordered(WindowCallMutex());
            *done = true;
            WindowCallFinished().notify_all();
        },
        Qt::QueuedConnection);
    WindowCallFinished().wait(lock, [&] { return *done; });
}

#pragma once

#include <QMetaObject>
#include <QObject>
#include <QThread>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <utility>

// Runs fn on the thread of context and returns after it has run: directly
// when the caller already is that thread (a blocking queued call to oneself
// deadlocks), otherwise as a queued call that the caller waits for. While
// the window thread shows a modal box its nested event loop still delivers
// these calls, so the functions called this way must be safe to enter again.
//
// The hand-over is ordered by a mutex of our own rather than by Qt's
// blocking connection, so that every write of the caller is visible to fn
// (and ThreadSanitizer, which cannot see into Qt's event queue, sees it too).
// context must outlive the call: a call discarded unrun would never return.
template <typename Fn>
void RunOnWindowThread(QObject* context, Fn&& fn)
{
    if (QThread::currentThread() == context->thread()) {
        fn();
        return;
    }
    struct Handshake
    {
        std::mutex mutex;
        std::condition_variable finished;
        bool done = false;
    };
    const auto handshake = std::make_shared<Handshake>();
    std::unique_lock lock(handshake->mutex);
    // Posted with the lock held: the window thread's first lock below comes
    // after this thread's writes.
    QMetaObject::invokeMethod(
        context,
        [handshake, fn = std::forward<Fn>(fn)]() mutable {
            { std::lock_guard ordered(handshake->mutex); }
            fn();
            std::lock_guard ordered(handshake->mutex);
            handshake->done = true;
            handshake->finished.notify_all();
        },
        Qt::QueuedConnection);
    handshake->finished.wait(lock, [&] { return handshake->done; });
}

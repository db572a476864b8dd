#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>

class QObject;
class QThread;

// The lock that orders every hand-over to the window thread, process-wide.
// A call is posted with it held, and the window thread takes it before it
// reads anything the posting thread wrote, the call's own captures included.
// That orders the hand-over for ThreadSanitizer too, which cannot see into
// Qt's uninstrumented event queue.
std::mutex& WindowCallMutex();

// The one way another thread hands work to the window thread: the thread of
// the context object given, which must be a plain QObject (not a widget, so
// that no event filter looks at these calls).
//
// post() runs a function there later and does not wait; call() runs it and
// returns after it has run, or when it can no longer start: the deadline has
// passed, or the hand-over was detached. A call that has started runs to its
// end and its caller waits for that (the function may read the caller's
// data). On the window thread itself call() runs the function at once.
// While the window thread shows a modal box its nested event loop still runs
// these functions, so they must be safe to enter again.
//
// detach() (also done by the destructor and when the context is destroyed)
// releases every waiting caller whose function has not started; nothing
// posted or called afterwards runs. Any thread.
class WindowThread final
{
public:
    using Deadline = std::chrono::steady_clock::time_point;

    explicit WindowThread(QObject* context);
    ~WindowThread();
    WindowThread(const WindowThread&) = delete;
    WindowThread& operator=(const WindowThread&) = delete;

    void post(std::function<void()> fn);
    // True when fn has run.
    bool call(std::function<void()> fn, Deadline deadline = Deadline::max());
    void detach();
    bool isDetached() const;
    // Callers now waiting in call() (diagnostics, tests).
    int waiting() const;
    bool onWindowThread() const;

private:
    struct Relay;
    struct Trip;
    // Queues fn; false when detached or the queue refused it.
    bool queue(const std::shared_ptr<Trip>& trip, std::function<void()> fn);

    QObject* m_context;
    QThread* m_thread;
    std::shared_ptr<Relay> m_relay;
};

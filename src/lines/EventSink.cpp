#include "lines/EventSink.h"

#include "lines/LineEventHandler.h"
#include "lines/WindowThreadCall.h"

#include <QMetaObject>
#include <QObject>
#include <QThread>

#include <condition_variable>
#include <mutex>

// What the sink shares with the calls it has queued to the window thread,
// guarded by WindowCallMutex(): the queued call takes that lock before it
// reads anything, its own captures included. Queued calls hold the relay by
// reference count: they may outlive the sink.
struct EventSink::Relay {
    std::condition_variable changed;
    bool detached = false;
    int waiting = 0;
};

namespace {

constexpr int32_t kLines = 8;

// One event's trip to the window thread.
struct Trip {
    bool started = false;
    bool finished = false;
};

} // namespace

EventSink::EventSink(LineEventHandler* handler, QObject* windowContext)
    : m_handler(handler)
    , m_context(windowContext)
    , m_windowThread(windowContext->thread())
    , m_relay(std::make_shared<Relay>())
{
    // Calls queued to a context that is gone are never run; release their
    // waiting threads instead of leaving them blocked.
    QObject::connect(windowContext, &QObject::destroyed, [relay = m_relay] {
        std::lock_guard lock(WindowCallMutex());
        relay->detached = true;
        relay->changed.notify_all();
    });
}

EventSink::~EventSink()
{
    Detach();
}

int32_t EventSink::Reserved0() { return 0; }
void EventSink::Reserved1() {}
EngineEventSink* EventSink::Reserved2(int32_t, int32_t) { return this; }
void EventSink::Reserved3(int32_t, int32_t, int32_t) {}
void EventSink::Reserved4(int32_t, int32_t) {}
int32_t EventSink::Reserved5(int32_t, int32_t, int32_t, int32_t) { return 1; }
int32_t EventSink::Reserved6(int32_t, int32_t) { return 1; }
int32_t EventSink::Reserved7(int32_t, int32_t, int32_t, int32_t) { return 1; }
int32_t EventSink::Reserved8(int32_t, int32_t) { return 1; }
int32_t EventSink::Reserved9(int32_t, int32_t) { return 1; }
int32_t EventSink::Reserved10(int32_t, int32_t) { return 1; }
int32_t EventSink::Reserved11(int32_t, int32_t, int32_t) { return 1; }
int32_t EventSink::Reserved12(int32_t) { return 1; }
int32_t EventSink::Reserved13(int32_t, int32_t, int32_t) { return 1; }
int32_t EventSink::Reserved14(int32_t) { return 1; }
void EventSink::Reserved15(int32_t) {}
void EventSink::Reserved16(int32_t, int32_t) {}
void EventSink::Reserved17(int32_t) {}

void EventSink::OnEvent(EngineEvent* event)
{
    if (!event || !event->data || event->line < 0 || event->line >= kLines)
        return;
    LineEventHandler* handler = m_handler;
    const int line = event->line;
    void* data = event->data;
    switch (event->type) {
    case ENGINE_EVENT_PROGRESS: {
        const int32_t percent = *static_cast<const int32_t*>(data);
        deliver([handler, percent, line] { handler->OnLineProgress(percent, line); });
        break;
    }
    case ENGINE_EVENT_DEVICE:
        deliver([handler, data, line] { handler->OnLineDevice(static_cast<const int32_t*>(data), line); });
        break;
    case ENGINE_EVENT_MESSAGE:
        deliver([handler, data, line] { handler->OnLineMessage(static_cast<const char*>(data), line); });
        break;
    case ENGINE_EVENT_RESULT:
        deliver([handler, data, line] { handler->OnLineResult(static_cast<const int32_t*>(data), line); });
        break;
    default:
        break; // type 3 and unknown types carry nothing for the tool
    }
}

void EventSink::Detach()
{
    std::lock_guard lock(WindowCallMutex());
    m_relay->detached = true;
    m_relay->changed.notify_all();
}

bool EventSink::isDetached() const
{
    std::lock_guard lock(WindowCallMutex());
    return m_relay->detached;
}

int EventSink::waiting() const
{
    std::lock_guard lock(WindowCallMutex());
    return m_relay->waiting;
}

// A blocking queued call like RunOnWindowThread's (direct on the window
// thread itself, delivered by nested event loops as well), but one that
// Detach() can release: a thread waits only while its call may still run.
// The queued call may be discarded unrun when the window context is
// destroyed; the destroyed() connection detaches the sink first.
void EventSink::deliver(std::function<void()> call)
{
    const std::shared_ptr<Relay> relay = m_relay;
    std::unique_lock lock(WindowCallMutex());
    // Checked first: once detached, the window context may be gone.
    if (relay->detached)
        return;
    if (QThread::currentThread() == m_windowThread) {
        lock.unlock();
        call();
        return;
    }
    const auto trip = std::make_shared<Trip>();
    auto run = [relay, trip, call = std::move(call)] {
        {
            std::lock_guard runLock(WindowCallMutex());
            if (relay->detached)
                return;
            trip->started = true;
        }
        call();
        std::lock_guard runLock(WindowCallMutex());
        trip->finished = true;
        relay->changed.notify_all();
    };
    // Posted with the lock held, so that the window thread's first lock
    // orders everything this thread wrote before the call (also for
    // ThreadSanitizer, which cannot see Qt's own event queue).
    if (!QMetaObject::invokeMethod(m_context, std::move(run), Qt::QueuedConnection))
        return;
    // A call that has started runs to its end: the handler reads the
    // engine's data until then.
    ++relay->waiting;
    relay->changed.wait(lock, [&] { return trip->finished || (relay->detached && !trip->started); });
    --relay->waiting;
}

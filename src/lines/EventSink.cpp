#include "core/StationLines.h"
#include "lines/EventSink.h"

#include "lines/LineEventHandler.h"

namespace {


} // namespace

EventSink::EventSink(LineEventHandler* handler, QObject* windowContext)
    : m_handler(handler)
    , m_window(windowContext)
{
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
        m_window.call([handler, percent, line] { handler->OnLineProgress(percent, line); });
        break;
    }
    case ENGINE_EVENT_DEVICE:
        m_window.call([handler, data, line] { handler->OnLineDevice(static_cast<const int32_t*>(data), line); });
        break;
    case ENGINE_EVENT_MESSAGE:
        m_window.call([handler, data, line] { handler->OnLineMessage(static_cast<const char*>(data), line); });
        break;
    case ENGINE_EVENT_RESULT:
        m_window.call([handler, data, line] { handler->OnLineResult(static_cast<const int32_t*>(data), line); });
        break;
    default:
        break; // type 3 and unknown types carry nothing for the tool
    }
}

// Each event waits until its handler has run: the handler reads the
// engine's data until then. Once detached, no handler starts any more.
void EventSink::Detach()
{
    m_window.detach();
}

bool EventSink::IsDetached() const
{
    return m_window.isDetached();
}

int EventSink::Waiting() const
{
    return m_window.waiting();
}

#include "EventSinkHolder.h"

namespace engine {

void EventSinkHolder::set(EngineEventSink* sink)
{
    std::lock_guard lock(m_mutex);
    m_sink = sink;
}

void EventSinkHolder::raise(int32_t type, int32_t line, void* data)
{
    EngineEventSink* sink = nullptr;
    {
        std::lock_guard lock(m_mutex);
        sink = m_sink;
    }
    if (!sink)
        return;
    EngineEvent event{type, line, data};
    sink->OnEvent(&event);
}

} // namespace engine

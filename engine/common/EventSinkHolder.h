#pragma once

#include "FlashEngine.h"

#include <cstdint>
#include <mutex>

namespace engine {

// The tool's event sink as an engine keeps it: set by RegisterSink, read by
// whichever thread raises an event. The call into the sink holds no lock, so
// the tool may call back into the engine from there.
class EventSinkHolder final
{
public:
    void set(EngineEventSink* sink);
    // Hands the event to the sink, if there is one. Nothing of this object
    // is touched after the call: a thread that outlived Destroy may still be
    // returning through here.
    void raise(int32_t type, int32_t line, void* data);

private:
    std::mutex m_mutex;
    EngineEventSink* m_sink = nullptr; // guarded by m_mutex
};

} // namespace engine

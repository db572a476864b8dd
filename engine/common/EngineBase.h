#pragma once

#include "EventSinkHolder.h"
#include "FlashEngine.h"

#include <memory>

namespace engine {

// What every engine answers alike: the reserved slots, and RegisterSink
// into a sink holder that the engine's threads may share (they keep it
// alive while they return through it).
class EngineBase : public FlashEngine
{
public:
    int32_t Reserved0() override { return 0; }
    int32_t Reserved1() override { return 0; }
    int32_t RegisterSink(EngineEventSink* sink) override
    {
        m_sink->set(sink);
        return 0;
    }
    int32_t Reserved4() override { return 0; }
    int32_t Reserved5() override { return 0; }
    int32_t Reserved6() override { return 0; }

protected:
    EngineBase() = default;
    ~EngineBase() = default;

    const std::shared_ptr<EventSinkHolder> m_sink = std::make_shared<EventSinkHolder>();
};

} // namespace engine

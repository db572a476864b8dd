// A test engine library built from the public header alone and loaded with
// dlopen like a real one. It calls every slot of the sink it is given by
// position and records the answers; variants leave out Destroy, return null
// from Create or leave out Create.

#include "FlashEngine.h"
#include "ProbeReport.h"

namespace {

ProbeReport report;

void called(int32_t slot)
{
    if (report.callCount < 32)
        report.calls[report.callCount++] = slot;
}

class ProbeEngine final : public FlashEngine
{
public:
    int32_t Reserved0() override { return called(0), 0; }
    int32_t Reserved1() override { return called(1), 0; }
    int32_t RegisterSink(EngineEventSink* sink) override
    {
        called(2);
        m_sink = sink;
        report.sink = sink;
        report.intAnswers[0] = sink->Reserved0();
        sink->Reserved1();
        report.slot2Answer = sink->Reserved2(1, 2);
        sink->Reserved3(1, 2, 3);
        sink->Reserved4(1, 2);
        report.intAnswers[5] = sink->Reserved5(1, 2, 3, 4);
        report.intAnswers[6] = sink->Reserved6(1, 2);
        report.intAnswers[7] = sink->Reserved7(1, 2, 3, 4);
        report.intAnswers[8] = sink->Reserved8(1, 2);
        report.intAnswers[9] = sink->Reserved9(1, 2);
        report.intAnswers[10] = sink->Reserved10(1, 2);
        report.intAnswers[11] = sink->Reserved11(1, 2, 3);
        report.intAnswers[12] = sink->Reserved12(1);
        report.intAnswers[13] = sink->Reserved13(1, 2, 3);
        report.intAnswers[14] = sink->Reserved14(1);
        sink->Reserved15(1);
        sink->Reserved16(1, 2);
        sink->Reserved17(1);
        return 0;
    }
    int32_t Setup(int32_t mode) override
    {
        called(3);
        report.setupMode = mode;
        // Slot 18 with an event, on the caller's (the window's) thread.
        int32_t percent = 37;
        EngineEvent progress{ENGINE_EVENT_PROGRESS, 3, &percent};
        m_sink->OnEvent(&progress);
        EngineEvent unused{3, 3, &percent};
        m_sink->OnEvent(&unused);
        return 0;
    }
    int32_t Reserved4() override { return called(4), 0; }
    int32_t Reserved5() override { return called(5), 0; }
    int32_t Reserved6() override { return called(6), 0; }
    int32_t QueryDevice(int32_t, int32_t, EngineText*) override { return called(7), -1; }
    int32_t EnumeratePorts(int32_t*, int32_t*) override { return called(8), 0; }
    int32_t Download(int32_t, int32_t) override { return called(9), 0; }
    int32_t ReloadSettings() override { return called(10), 0; }

private:
    EngineEventSink* m_sink = nullptr;
};

} // namespace

extern "C" {

__attribute__((visibility("default"))) ProbeReport* ProbeResults()
{
    return &report;
}

#ifndef PROBE_NO_CREATE
__attribute__((visibility("default"))) FlashEngine* Create(void)
{
#ifdef PROBE_NULL_CREATE
    return nullptr;
#else
    return new ProbeEngine;
#endif
}
#endif

#ifndef PROBE_NO_DESTROY
__attribute__((visibility("default"))) void Destroy(FlashEngine* engine)
{
    ++report.destroyed;
    delete static_cast<ProbeEngine*>(engine);
}
#endif

} // extern "C"

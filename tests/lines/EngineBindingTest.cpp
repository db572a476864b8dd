#include "lines/EngineBinding.h"
#include "lines/EventSink.h"
#include "lines/ProbeReport.h"
#include "lines/RecordingHandler.h"

#include <QObject>

#include <gtest/gtest.h>

#include <dlfcn.h>

namespace {

// The test keeps its own handle on a probe library, so that its report
// outlives the binding's dlclose.
class Probe final
{
public:
    explicit Probe(const char* path)
        : m_handle(dlopen(path, RTLD_NOW | RTLD_LOCAL))
    {
        EXPECT_NE(m_handle, nullptr) << dlerror();
        if (m_handle)
            m_report = reinterpret_cast<ProbeResultsFn>(dlsym(m_handle, "ProbeResults"))();
        if (m_report)
            *m_report = ProbeReport{};
    }
    ~Probe()
    {
        if (m_handle)
            dlclose(m_handle);
    }
    Probe(const Probe&) = delete;
    Probe& operator=(const Probe&) = delete;
    const ProbeReport& report() const { return *m_report; }

private:
    void* m_handle;
    ProbeReport* m_report = nullptr;
};

class EngineBindingTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        binding.Release();
        EngineBinding::SetLibraryName(QString());
        EXPECT_EQ(EngineBinding::LibraryName(), QLatin1String("libPhoneFlashEngine.so"));
    }
    bool load(const char* path)
    {
        EngineBinding::SetLibraryName(QString::fromUtf8(path));
        return binding.Load(&handler, &window);
    }

    RecordingHandler handler;
    QObject window;
    EngineBinding binding;
};

TEST_F(EngineBindingTest, LoadHandsTheSinkOverAndItsSlotsAnswerByPosition)
{
    Probe probe(PROBE_ENGINE);
    ASSERT_TRUE(load(PROBE_ENGINE));
    ASSERT_NE(binding.Engine(), nullptr);
    const ProbeReport& r = probe.report();
    ASSERT_EQ(r.callCount, 2);
    EXPECT_EQ(r.calls[0], 2); // RegisterSink
    EXPECT_EQ(r.calls[1], 3); // then Setup
    EXPECT_EQ(r.setupMode, 6);
    EXPECT_EQ(r.sink, static_cast<EngineEventSink*>(binding.Sink()));
    EXPECT_EQ(r.intAnswers[0], 0);
    EXPECT_EQ(r.slot2Answer, r.sink);
    for (int slot = 5; slot <= 14; ++slot)
        EXPECT_EQ(r.intAnswers[slot], 1) << "slot " << slot;
    // Slot 18 with a progress event; the type 3 event after it is dropped.
    ASSERT_EQ(handler.events.size(), 1u);
    EXPECT_EQ(handler.events[0].kind, 'P');
    EXPECT_EQ(handler.events[0].value, 37);
    EXPECT_EQ(handler.events[0].line, 3);
}

TEST_F(EngineBindingTest, LoadFailsWithoutLibraryFactoryOrEngine)
{
    EXPECT_FALSE(load("/nonexistent/libPhoneFlashEngine.so"));
    EXPECT_EQ(binding.Engine(), nullptr);
    EXPECT_FALSE(load(PROBE_ENGINE_NO_CREATE));
    EXPECT_EQ(binding.Engine(), nullptr);
    Probe probe(PROBE_ENGINE_NULL_CREATE);
    EXPECT_FALSE(load(PROBE_ENGINE_NULL_CREATE));
    EXPECT_EQ(binding.Engine(), nullptr);
    EXPECT_EQ(probe.report().callCount, 0);
    EXPECT_TRUE(handler.events.empty());
}

TEST_F(EngineBindingTest, ReleaseCallsDestroyOnceAndDetachesTheSink)
{
    Probe probe(PROBE_ENGINE);
    ASSERT_TRUE(load(PROBE_ENGINE));
    EventSink* sink = binding.Sink();
    binding.Release();
    EXPECT_EQ(probe.report().destroyed, 1);
    EXPECT_EQ(binding.Engine(), nullptr);
    EXPECT_TRUE(sink->IsDetached()); // kept alive, but silent
    binding.Release();
    EXPECT_EQ(probe.report().destroyed, 1);
}

TEST_F(EngineBindingTest, ReleaseWithoutDestroyFreesWithoutCallingTheEngine)
{
    Probe probe(PROBE_ENGINE_NO_DESTROY);
    ASSERT_TRUE(load(PROBE_ENGINE_NO_DESTROY));
    const int32_t before = probe.report().callCount;
    binding.Release();
    EXPECT_EQ(probe.report().callCount, before);
    EXPECT_EQ(binding.Engine(), nullptr);
}

TEST_F(EngineBindingTest, AdoptedEngineIsBoundButNotFreed)
{
    class Scripted final : public FlashEngine
    {
    public:
        int32_t Reserved0() override { return 0; }
        int32_t Reserved1() override { return 0; }
        int32_t RegisterSink(EngineEventSink* s) override { return sink = s, 0; }
        int32_t Setup(int32_t m) override { return mode = m, 0; }
        int32_t Reserved4() override { return 0; }
        int32_t Reserved5() override { return 0; }
        int32_t Reserved6() override { return 0; }
        int32_t QueryDevice(int32_t, int32_t, EngineText*) override { return -1; }
        int32_t EnumeratePorts(int32_t*, int32_t*) override { return 0; }
        int32_t Download(int32_t, int32_t) override { return 0; }
        int32_t ReloadSettings() override { return 0; }
        EngineEventSink* sink = nullptr;
        int32_t mode = 0;
    } engine;

    ASSERT_TRUE(binding.Adopt(&engine, &handler, &window));
    EXPECT_EQ(binding.Engine(), &engine);
    EXPECT_EQ(engine.sink, static_cast<EngineEventSink*>(binding.Sink()));
    EXPECT_EQ(engine.mode, 6);
    int32_t code = 0;
    EngineEvent result{ENGINE_EVENT_RESULT, 5, &code};
    engine.sink->OnEvent(&result);
    EXPECT_EQ(handler.count('R', 5), 1);
    binding.Release(); // the stack object must stay untouched
    EXPECT_EQ(binding.Engine(), nullptr);
    engine.sink->OnEvent(&result); // detached: dropped
    EXPECT_EQ(handler.count('R', 5), 1);
}

} // namespace

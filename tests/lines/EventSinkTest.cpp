#include "lines/EventSink.h"
#include "lines/RecordingHandler.h"

#include <QEventLoop>
#include <QObject>
#include <QThread>
#include <QTimer>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <cstring>
#include <chrono>
#include <memory>
#include <thread>

namespace {

EngineEvent event(int32_t type, int32_t line, void* data)
{
    return EngineEvent{type, line, data};
}

// Waits without running the event loop, so queued calls stay queued.
template <typename Pred>
bool waitWithoutEvents(Pred pred, std::chrono::milliseconds deadline = std::chrono::seconds(10))
{
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

class EventSinkTest : public ::testing::Test
{
protected:
    RecordingHandler handler;
    QObject window;
    EventSink sink{&handler, &window};
    EngineEventSink* view = &sink; // the engine's view: calls by position
};

TEST_F(EventSinkTest, FixedSlotsGiveTheirAnswersAndDoNothing)
{
    EXPECT_EQ(view->Reserved0(), 0);
    view->Reserved1();
    EXPECT_EQ(view->Reserved2(7, 8), view);
    view->Reserved3(1, 2, 3);
    view->Reserved4(1, 2);
    EXPECT_EQ(view->Reserved5(1, 2, 3, 4), 1);
    EXPECT_EQ(view->Reserved6(1, 2), 1);
    EXPECT_EQ(view->Reserved7(1, 2, 3, 4), 1);
    EXPECT_EQ(view->Reserved8(1, 2), 1);
    EXPECT_EQ(view->Reserved9(1, 2), 1);
    EXPECT_EQ(view->Reserved10(1, 2), 1);
    EXPECT_EQ(view->Reserved11(1, 2, 3), 1);
    EXPECT_EQ(view->Reserved12(1), 1);
    EXPECT_EQ(view->Reserved13(1, 2, 3), 1);
    EXPECT_EQ(view->Reserved14(1), 1);
    view->Reserved15(1);
    view->Reserved16(1, 2);
    view->Reserved17(1);
    EXPECT_TRUE(handler.events.empty());
}

TEST_F(EventSinkTest, EventsReachTheHandlerWithTheEnginesData)
{
    int32_t percent = 37;
    int32_t code = -5;
    int32_t offer = 1;
    char text[] = "Writing system.img";
    auto progress = event(ENGINE_EVENT_PROGRESS, 2, &percent);
    auto result = event(ENGINE_EVENT_RESULT, 7, &code);
    auto device = event(ENGINE_EVENT_DEVICE, 0, &offer);
    auto message = event(ENGINE_EVENT_MESSAGE, 4, text);
    view->OnEvent(&progress);
    view->OnEvent(&result);
    view->OnEvent(&device);
    view->OnEvent(&message);

    ASSERT_EQ(handler.events.size(), 4u);
    EXPECT_EQ(handler.events[0].kind, 'P');
    EXPECT_EQ(handler.events[0].value, 37);
    EXPECT_EQ(handler.events[0].line, 2);
    EXPECT_EQ(handler.events[1].kind, 'R');
    EXPECT_EQ(handler.events[1].pointer, &code); // the address, not the code
    EXPECT_EQ(handler.events[1].line, 7);
    EXPECT_EQ(handler.events[2].kind, 'D');
    EXPECT_EQ(handler.events[2].pointer, &offer);
    EXPECT_EQ(handler.events[3].kind, 'M');
    EXPECT_EQ(handler.events[3].pointer, text);
    EXPECT_EQ(handler.events[3].text, "Writing system.img");
}

TEST_F(EventSinkTest, UnusedTypesBadLinesAndMissingDataAreDropped)
{
    int32_t value = 1;
    for (const int32_t type : {3, 5, 99, -1}) {
        auto e = event(type, 0, &value);
        view->OnEvent(&e);
    }
    for (const int32_t line : {-1, 8, 1000}) {
        auto e = event(ENGINE_EVENT_PROGRESS, line, &value);
        view->OnEvent(&e);
    }
    for (const int32_t type : {0, 1, 2, 4}) {
        auto e = event(type, 0, nullptr);
        view->OnEvent(&e);
    }
    view->OnEvent(nullptr);
    EXPECT_TRUE(handler.events.empty());
}

TEST_F(EventSinkTest, ForeignThreadWaitsUntilTheHandlerHasRunOnTheWindowThread)
{
    std::atomic<bool> handled{false};
    std::atomic<bool> handledBeforeReturn{false};
    std::atomic<bool> done{false};
    handler.hook = [&](const RecordingHandler::Event&) { handled = true; };
    std::thread engine([&] {
        int32_t code = 0;
        auto e = event(ENGINE_EVENT_RESULT, 1, &code);
        view->OnEvent(&e);
        handledBeforeReturn = handled.load();
        done = true;
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return done.load(); }, 10000));
    engine.join();
    ASSERT_EQ(handler.count('R'), 1);
    EXPECT_TRUE(handler.events[0].onWindowThread);
    EXPECT_TRUE(handledBeforeReturn);
}

TEST_F(EventSinkTest, HandlerInANestedEventLoopStillReceivesAnotherThreadsEvent)
{
    std::thread second;
    QEventLoop* nested = nullptr;
    bool nestedDelivery = false;
    handler.hook = [&](const RecordingHandler::Event& e) {
        if (e.kind == 'P' && nested) {
            nestedDelivery = true;
            nested->quit();
        }
        if (e.kind != 'M')
            return;
        // As a modal box does: spin a loop of its own until another
        // thread's event has come in.
        QEventLoop loop;
        nested = &loop;
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        second = std::thread([&] {
            int32_t percent = 5;
            auto p = event(ENGINE_EVENT_PROGRESS, 1, &percent);
            view->OnEvent(&p);
        });
        loop.exec();
        nested = nullptr;
    };
    std::atomic<bool> done{false};
    std::thread first([&] {
        char text[] = "modal";
        auto m = event(ENGINE_EVENT_MESSAGE, 0, text);
        view->OnEvent(&m);
        done = true;
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return done.load(); }, 20000));
    first.join();
    second.join();
    EXPECT_TRUE(nestedDelivery);
    EXPECT_EQ(handler.count('P'), 1);
}

TEST_F(EventSinkTest, DetachReleasesAWaitingThreadAndDropsLaterEvents)
{
    std::atomic<int> returned{0};
    std::thread engine([&] {
        int32_t percent = 10;
        for (int i = 0; i < 3; ++i) {
            auto e = event(ENGINE_EVENT_PROGRESS, 0, &percent);
            view->OnEvent(&e);
            ++returned;
        }
    });
    // The window thread is busy elsewhere: the engine thread stays blocked.
    ASSERT_TRUE(waitWithoutEvents([&] { return sink.Waiting() == 1; }));
    EXPECT_EQ(returned.load(), 0);
    sink.Detach();
    EXPECT_TRUE(waitWithoutEvents([&] { return returned.load() == 3; }));
    engine.join();
    // The queued call finds the sink detached and does nothing.
    QCoreApplication::processEvents();
    EXPECT_TRUE(handler.events.empty());
    EXPECT_EQ(sink.Waiting(), 0);
}

TEST(EventSinkContextTest, DestroyedWindowReleasesAWaitingThread)
{
    RecordingHandler handler;
    auto window = std::make_unique<QObject>();
    EventSink sink(&handler, window.get());
    std::atomic<bool> returned{false};
    std::thread engine([&] {
        int32_t offer = 1;
        auto e = event(ENGINE_EVENT_DEVICE, 0, &offer);
        sink.OnEvent(&e);
        returned = true;
    });
    ASSERT_TRUE(waitWithoutEvents([&] { return sink.Waiting() == 1; }));
    window.reset();
    EXPECT_TRUE(waitWithoutEvents([&] { return returned.load(); }));
    engine.join();
    EXPECT_TRUE(sink.IsDetached());
    EXPECT_TRUE(handler.events.empty());
}

} // namespace

namespace {

// Under the Itanium C++ ABI a pointer to a virtual member function holds
// 1 + the byte offset of its entry in the table of virtual functions.
template <typename Pmf>
long slotOf(Pmf pmf)
{
    static_assert(sizeof(Pmf) == 2 * sizeof(long));
    long raw[2];
    std::memcpy(raw, &pmf, sizeof raw);
    return (raw[0] - 1) / static_cast<long>(sizeof(void*));
}

TEST(EngineHeaderLayoutTest, SlotsSitWhereEnginesCallThem)
{
    EXPECT_EQ(slotOf(&EngineEventSink::Reserved0), 0);
    EXPECT_EQ(slotOf(&EngineEventSink::Reserved2), 2);
    EXPECT_EQ(slotOf(&EngineEventSink::Reserved5), 5);
    EXPECT_EQ(slotOf(&EngineEventSink::Reserved14), 14);
    EXPECT_EQ(slotOf(&EngineEventSink::Reserved17), 17);
    EXPECT_EQ(slotOf(&EngineEventSink::OnEvent), 18);
    EXPECT_EQ(slotOf(&FlashEngine::RegisterSink), 2);
    EXPECT_EQ(slotOf(&FlashEngine::Setup), 3);
    EXPECT_EQ(slotOf(&FlashEngine::QueryDevice), 7);
    EXPECT_EQ(slotOf(&FlashEngine::EnumeratePorts), 8);
    EXPECT_EQ(slotOf(&FlashEngine::Download), 9);
    EXPECT_EQ(slotOf(&FlashEngine::ReloadSettings), 10);
    EXPECT_EQ(offsetof(EngineEvent, type), 0u);
    EXPECT_EQ(offsetof(EngineEvent, line), 4u);
    EXPECT_EQ(offsetof(EngineEvent, data), 8u);
    EXPECT_EQ(sizeof(EngineText), 1024u);
}

} // namespace

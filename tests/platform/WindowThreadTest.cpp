#include "platform/WindowThread.h"
#include "support/WaitFor.h"

#include <QCoreApplication>
#include <QObject>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

// Waits without running the event loop, so queued calls stay queued.
template <typename Pred>
bool waitWithoutEvents(Pred pred)
{
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::yield();
    }
    return true;
}

void drainEvents()
{
    QCoreApplication::processEvents();
}

} // namespace

TEST(WindowThreadTest, PostedWorkRunsOnTheWindowThreadInOrder)
{
    QObject context;
    WindowThread window(&context);
    std::vector<int> order; // window thread only
    std::thread poster([&] {
        for (int i = 0; i < 5; ++i)
            window.post([&order, i] { order.push_back(i); });
    });
    poster.join();
    EXPECT_TRUE(order.empty()); // nothing runs before the window thread turns to it
    ASSERT_TRUE(waitFor([&] { return order.size() == 5; }));
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
}

TEST(WindowThreadTest, CallReturnsAfterTheWorkRanAndSeesItsResult)
{
    QObject context;
    WindowThread window(&context);
    int value = 0; // written by the window thread, read by the caller after call()
    std::atomic<bool> ran{false};
    std::thread caller([&] {
        const bool done = window.call([&] { value = 42; });
        ran = done && value == 42;
    });
    EXPECT_TRUE(waitFor([&] { return ran.load(); }));
    caller.join();
    // On the window thread itself the call runs at once.
    EXPECT_TRUE(window.call([&] { value = 7; }));
    EXPECT_EQ(value, 7);
}

TEST(WindowThreadTest, DetachReleasesWaitingCallersAndNothingRunsAfterwards)
{
    QObject context;
    WindowThread window(&context);
    std::atomic<bool> ran{false};
    std::atomic<int> result{-1};
    std::thread caller([&] { result = window.call([&] { ran = true; }) ? 1 : 0; });
    EXPECT_TRUE(waitWithoutEvents([&] { return window.waiting() == 1; }));
    window.detach();
    caller.join();
    EXPECT_EQ(result.load(), 0);
    window.post([&] { ran = true; });
    drainEvents();
    EXPECT_FALSE(ran.load());
    EXPECT_FALSE(window.call([&] { ran = true; }));
    EXPECT_FALSE(ran.load());
    EXPECT_EQ(window.waiting(), 0);
}

TEST(WindowThreadTest, DestroyingTheContextReleasesWaitingCallers)
{
    auto context = std::make_unique<QObject>();
    WindowThread window(context.get());
    std::atomic<int> result{-1};
    std::thread caller([&] { result = window.call([] {}) ? 1 : 0; });
    EXPECT_TRUE(waitWithoutEvents([&] { return window.waiting() == 1; }));
    context.reset(); // its queued call goes with it
    caller.join();
    EXPECT_EQ(result.load(), 0);
    EXPECT_TRUE(window.isDetached());
}

TEST(WindowThreadTest, ACallPastItsDeadlineNeverRuns)
{
    QObject context;
    WindowThread window(&context);
    std::atomic<bool> ran{false};
    std::atomic<int> result{-1};
    // The window thread is busy (it runs no events) until the deadline.
    std::thread caller([&] {
        result = window.call([&] { ran = true; }, std::chrono::steady_clock::now() + 50ms) ? 1 : 0;
    });
    caller.join();
    EXPECT_EQ(result.load(), 0);
    drainEvents();
    EXPECT_FALSE(ran.load());
    EXPECT_FALSE(window.isDetached()); // later calls still run
    std::atomic<bool> later{false};
    window.post([&] { later = true; });
    EXPECT_TRUE(waitFor([&] { return later.load(); }));
}

TEST(WindowThreadTest, AStartedCallRunsToItsEndWhateverHappensMeanwhile)
{
    QObject context;
    WindowThread window(&context);
    // Long enough for the call to start even on a slow (sanitized) build.
    const auto deadline = std::chrono::steady_clock::now() + 500ms;
    std::atomic<int> result{-1};
    bool callerStillWaiting = false;
    std::thread caller([&] {
        result = window.call(
                     [&] {
                         // Past its deadline and detached meanwhile (a nested
                         // loop runs, as for a modal box): the caller waits on.
                         waitFor([&] { return std::chrono::steady_clock::now() > deadline + 10ms; });
                         window.detach();
                         callerStillWaiting = result.load() == -1 && window.waiting() == 1;
                     },
                     deadline)
                     ? 1
                     : 0;
    });
    EXPECT_TRUE(waitFor([&] { return window.isDetached(); }));
    caller.join();
    EXPECT_TRUE(callerStillWaiting);
    EXPECT_EQ(result.load(), 1);
}

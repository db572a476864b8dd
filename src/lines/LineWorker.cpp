#include "lines/LineWorker.h"

#include "platform/ThreadPriority.h"

#include <atomic>
#include <system_error>
#include <thread>

namespace {
std::atomic<bool> g_failNextStart{false};
} // namespace

bool LineWorker::Start(const LineJob& job, Body body)
{
    if (g_failNextStart.exchange(false))
        return false;
    try {
        std::thread([job, body = std::move(body)] {
            ThreadPriority::lowerCurrentThread(LineWorker::kNiceIncrement);
            body(job);
        }).detach();
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void LineWorker::FailNextStartForTest()
{
    g_failNextStart = true;
}

#include "lines/LineWorker.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <system_error>
#include <thread>

namespace {
std::atomic<bool> g_failNextStart{false};

void lowerPriority()
{
    // Linux applies a nice value to the calling thread when given its tid.
    const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
    errno = 0;
    const int current = ::getpriority(PRIO_PROCESS, tid);
    if (errno == 0)
        ::setpriority(PRIO_PROCESS, tid, current + LineWorker::kNiceIncrement);
}
} // namespace

bool LineWorker::Start(const LineJob& job, Body body)
{
    if (g_failNextStart.exchange(false))
        return false;
    try {
        std::thread([job, body = std::move(body)] {
            lowerPriority();
            body(job);
        }).detach();
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void LineWorker::failNextStartForTest()
{
    g_failNextStart = true;
}

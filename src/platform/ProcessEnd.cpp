#include "platform/ProcessEnd.h"

#include <atomic>
#include <cstdio>

#include <unistd.h>

namespace ProcessEnd {
namespace {

std::atomic<Handler> g_handler{nullptr};

} // namespace

void endProcess(int status)
{
    if (const Handler handler = g_handler.load()) {
        handler(status);
        return;
    }
    // No destructors, no atexit handlers, no thread joins: only what was
    // printed is not lost.
    std::fflush(nullptr);
    ::_exit(status);
}

void setHandler(Handler handler)
{
    g_handler.store(handler);
}

} // namespace ProcessEnd

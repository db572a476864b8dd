#include "platform/ThreadPriority.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

namespace ThreadPriority {

void lowerCurrentThread(int niceIncrement)
{
    // Linux applies a nice value to the calling thread when given its tid.
    const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
    errno = 0;
    const int current = ::getpriority(PRIO_PROCESS, tid);
    if (errno == 0)
        ::setpriority(PRIO_PROCESS, tid, current + niceIncrement);
}

} // namespace ThreadPriority

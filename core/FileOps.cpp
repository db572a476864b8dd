#include "core/FileOps.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

namespace FileOps {
namespace {

struct Plan
{
    int remaining = 0; // 0: no fault planned
    int err = 0;
};

std::mutex g_mutex;
std::array<Plan, 3> g_plans;

// Counts one call of op; true (with errno set) when this call must fail.
bool injectFault(Op op)
{
    std::lock_guard lock(g_mutex);
    Plan& plan = g_plans[static_cast<size_t>(op)];
    if (plan.remaining <= 0 || --plan.remaining > 0)
        return false;
    errno = plan.err;
    return true;
}

ssize_t writeLoop(int fd, const char* data, size_t size)
{
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

} // namespace

int open(const char* path, int flags, mode_t mode)
{
    int fd;
    do {
        fd = ::open(path, flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

int makeTemp(char* templ)
{
    return ::mkostemp(templ, O_CLOEXEC);
}

ssize_t writeAll(int fd, const void* data, size_t size)
{
    const char* bytes = static_cast<const char*>(data);
    if (injectFault(Op::Write)) {
        const int err = errno;
        writeLoop(fd, bytes, size / 2);
        errno = err;
        return -1;
    }
    return writeLoop(fd, bytes, size);
}

int fdatasync(int fd)
{
    if (injectFault(Op::Sync))
        return -1;
    return ::fdatasync(fd);
}

int fsync(int fd)
{
    if (injectFault(Op::Sync))
        return -1;
    return ::fsync(fd);
}

int rename(const char* from, const char* to)
{
    if (injectFault(Op::Rename))
        return -1;
    return ::rename(from, to);
}

int unlink(const char* path)
{
    return ::unlink(path);
}

int ftruncate(int fd, off_t size)
{
    int rc;
    do {
        rc = ::ftruncate(fd, size);
    } while (rc < 0 && errno == EINTR);
    return rc;
}

int close(int fd)
{
    // Linux frees the descriptor even when close reports EINTR: no retry.
    return ::close(fd);
}

int syncParentDir(const char* path)
{
    std::string dir(path);
    const size_t slash = dir.rfind('/');
    if (slash == std::string::npos)
        dir = ".";
    else if (slash == 0)
        dir = "/";
    else
        dir.resize(slash);
    const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0)
        return -1;
    const int rc = fsync(fd);
    const int err = errno;
    ::close(fd);
    errno = err;
    return rc;
}

void failNth(Op op, int nth, int err)
{
    std::lock_guard lock(g_mutex);
    g_plans[static_cast<size_t>(op)] = Plan{nth, err};
}

void clearFaults()
{
    std::lock_guard lock(g_mutex);
    g_plans.fill(Plan{});
}

bool faultPending(Op op)
{
    std::lock_guard lock(g_mutex);
    return g_plans[static_cast<size_t>(op)].remaining > 0;
}

} // namespace FileOps

#include "platform/SocketWait.h"

#include <poll.h>

#include <cerrno>
#include <cstring>

namespace SocketWait {

Result wait(int fd, bool forWrite, std::chrono::milliseconds timeout, QString* error)
{
    pollfd p{fd, short(forWrite ? (POLLOUT | POLLIN) : POLLIN), 0};
    const int ready = ::poll(&p, 1, int(timeout.count()));
    if (ready > 0)
        return Result::Ready;
    if (ready == 0 || errno == EINTR)
        return Result::TimedOut;
    if (error)
        *error = QString::fromLocal8Bit(std::strerror(errno));
    return Result::Failed;
}

} // namespace SocketWait

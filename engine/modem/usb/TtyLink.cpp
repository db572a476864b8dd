#include "TtyLink.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

namespace modem {

std::unique_ptr<TtyLink> TtyLink::open(const std::string& path, std::string* why)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *why = "cannot open " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    termios tio{};
    if (::tcgetattr(fd, &tio) == 0) {
        ::cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        tio.c_cflag &= ~CRTSCTS;
        // VMIN 1: a read without data fails with EAGAIN (O_NONBLOCK), so
        // that a read of 0 bytes means the tty hung up. With VMIN 0 it
        // would return 0 whenever nothing is there.
        tio.c_cc[VMIN] = 1;
        tio.c_cc[VTIME] = 0;
        ::cfsetispeed(&tio, B115200);
        ::cfsetospeed(&tio, B115200);
        if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
            *why = "cannot set up " + path + ": " + std::strerror(errno);
            ::close(fd);
            return nullptr;
        }
    } else if (errno != ENOTTY && errno != EINVAL) {
        *why = "cannot set up " + path + ": " + std::strerror(errno);
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<TtyLink>(new TtyLink(fd, path));
}

TtyLink::TtyLink(int fd, std::string path)
    : m_fd(fd)
    , m_path(std::move(path))
{
}

TtyLink::~TtyLink()
{
    ::close(m_fd);
}

IoStatus TtyLink::failed(const char* what, int error)
{
    m_error = m_path + ": " + what + ": " + std::strerror(error);
    // EIO and the like: the module left and its tty with it.
    return error == EIO || error == ENODEV || error == ENXIO || error == EBADF ? IoStatus::Closed : IoStatus::Error;
}

IoStatus TtyLink::wait(short events, Clock::time_point deadline)
{
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd p{m_fd, events, 0};
        const int n = ::poll(&p, 1, int(std::clamp<long long>(left, 0, INT_MAX)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return failed("poll", errno);
        if (n == 0) {
            m_error = m_path + ": timed out";
            return IoStatus::Timeout;
        }
        if (p.revents & (events | POLLHUP | POLLERR | POLLNVAL)) {
            if ((p.revents & events) == 0) {
                m_error = m_path + ": the tty went away";
                return IoStatus::Closed;
            }
            return IoStatus::Ok;
        }
    }
}

IoStatus TtyLink::send(const void* data, size_t size, Clock::time_point deadline)
{
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(m_fd, bytes, size);
        if (n > 0) {
            bytes += n;
            size -= size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            return failed("write", errno);
        if (const IoStatus status = wait(POLLOUT, deadline); status != IoStatus::Ok)
            return status;
    }
    return IoStatus::Ok;
}

IoStatus TtyLink::receive(void* buffer, size_t capacity, size_t* size, Clock::time_point deadline)
{
    for (;;) {
        const ssize_t n = ::read(m_fd, buffer, capacity);
        if (n > 0) {
            *size = size_t(n);
            return IoStatus::Ok;
        }
        if (n == 0) {
            m_error = m_path + ": the tty went away";
            return IoStatus::Closed;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN)
            return failed("read", errno);
        if (const IoStatus status = wait(POLLIN, deadline); status != IoStatus::Ok)
            return status;
    }
}

} // namespace modem

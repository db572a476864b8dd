#include "SocketIo.h"

#include "HostResolver.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <unistd.h>

namespace fastboot::SocketIo {

namespace {

int msLeft(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0)
        return 0;
    return left > 60'000 ? 60'000 : int(left);
}

// Polls for events until the deadline; false on timeout.
bool waitFor(int fd, short events, Clock::time_point deadline)
{
    for (;;) {
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, msLeft(deadline));
        if (n > 0)
            return true;
        if (n < 0 && errno != EINTR)
            return true; // let the following call report the error
        if (n == 0 && Clock::now() >= deadline)
            return false;
    }
}

void setOptions(int fd)
{
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    // Large buffers keep loopback transfers of big images moving.
    const int buffer = 4 * 1024 * 1024;
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
}

} // namespace

int connectTcp(HostResolver& resolver, const std::string& host, const std::string& port, Clock::time_point deadline,
               std::string* error)
{
    // The lookup, too, ends by the deadline.
    std::vector<HostResolver::Address> found;
    if (resolver.resolve(host, port, deadline, &found, error) != HostResolver::Outcome::Resolved)
        return -1;
    int fd = -1;
    int lastErr = ECONNREFUSED;
    for (auto a = found.begin(); a != found.end() && fd < 0; ++a) {
        fd = ::socket(a->family, a->socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->protocol);
        if (fd < 0) {
            lastErr = errno;
            continue;
        }
        setOptions(fd);
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&a->storage), a->length) == 0)
            break;
        int err = errno;
        if (err == EINPROGRESS) {
            if (!waitFor(fd, POLLOUT, deadline)) {
                err = ETIMEDOUT;
            } else {
                socklen_t len = sizeof err;
                ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
            }
        }
        if (err == 0)
            break;
        lastErr = err;
        ::close(fd);
        fd = -1;
    }
    if (fd < 0)
        *error = std::strerror(lastErr);
    return fd;
}

int listenLoopback(int port, std::string* error)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = std::strerror(errno);
        return -1;
    }
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    setOptions(fd);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 8) != 0) {
        *error = std::strerror(errno);
        ::close(fd);
        return -1;
    }
    return fd;
}

int localPort(int fd)
{
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return -1;
    return ntohs(addr.sin_port);
}

IoStatus sendAll(int fd, const void* data, size_t size, Clock::time_point deadline, int* err, bool more)
{
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::send(fd, p, size, MSG_NOSIGNAL | (more ? MSG_MORE : 0));
        if (n > 0) {
            p += n;
            size -= size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!waitFor(fd, POLLOUT, deadline))
                return IoStatus::Timeout;
            continue;
        }
        *err = errno;
        return (errno == EPIPE || errno == ECONNRESET) ? IoStatus::Closed : IoStatus::Error;
    }
    return IoStatus::Ok;
}

namespace {

ssize_t systemSendFile(int socket, int file, off_t* offset, size_t count)
{
    return ::sendfile(socket, file, offset, count);
}

// For files whose file system cannot hand its pages to a socket: a small
// bounce buffer.
IoStatus copyFileAll(int fd, int file, uint64_t offset, size_t size, Clock::time_point deadline, int* err)
{
    char buffer[64 * 1024];
    while (size > 0) {
        const size_t want = std::min(size, sizeof buffer);
        const ssize_t n = ::pread(file, buffer, want, off_t(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            *err = n < 0 ? errno : 0;
            return IoStatus::FileError;
        }
        const IoStatus status = sendAll(fd, buffer, size_t(n), deadline, err);
        if (status != IoStatus::Ok)
            return status;
        offset += uint64_t(n);
        size -= size_t(n);
    }
    return IoStatus::Ok;
}

} // namespace

// sendfile has no MSG_NOSIGNAL: a peer that went away would raise SIGPIPE
// and end the whole tool. While it lives, SIGPIPE is blocked for this
// thread, and one raised meanwhile is taken back before it is unblocked.
class NoSigPipe final
{
public:
    NoSigPipe()
    {
        sigemptyset(&m_pipe);
        sigaddset(&m_pipe, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        m_wasPending = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &m_pipe, &m_old);
    }
    ~NoSigPipe()
    {
        sigset_t pending;
        sigpending(&pending);
        if (!m_wasPending && sigismember(&pending, SIGPIPE) == 1) {
            const timespec now{0, 0};
            while (sigtimedwait(&m_pipe, nullptr, &now) < 0 && errno == EINTR) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &m_old, nullptr);
    }
    NoSigPipe(const NoSigPipe&) = delete;
    NoSigPipe& operator=(const NoSigPipe&) = delete;

private:
    sigset_t m_pipe;
    sigset_t m_old;
    bool m_wasPending = false;
};

IoStatus sendFileAll(int fd, int file, uint64_t offset, size_t size, Clock::time_point deadline, int* err,
                     SendFile sendFile)
{
    if (!sendFile)
        sendFile = systemSendFile;
    const NoSigPipe noSigPipe;
    bool first = true;
    while (size > 0) {
        off_t at = off_t(offset);
        const ssize_t n = sendFile(fd, file, &at, std::min<size_t>(size, 1u << 30));
        if (n > 0) {
            offset += uint64_t(n);
            size -= size_t(n);
            first = false;
            continue;
        }
        if (n == 0) { // the file is shorter than planned
            *err = 0;
            return IoStatus::FileError;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (!waitFor(fd, POLLOUT, deadline))
                return IoStatus::Timeout;
            continue;
        }
        if (first && (errno == EINVAL || errno == ENOSYS))
            return copyFileAll(fd, file, offset, size, deadline, err);
        *err = errno;
        if (errno == EPIPE || errno == ECONNRESET)
            return IoStatus::Closed;
        return errno == EIO ? IoStatus::FileError : IoStatus::Error;
    }
    return IoStatus::Ok;
}

IoStatus receiveAll(int fd, void* data, size_t size, Clock::time_point deadline, int* err)
{
    char* p = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t n = ::recv(fd, p, size, 0);
        if (n > 0) {
            p += n;
            size -= size_t(n);
            continue;
        }
        if (n == 0) {
            *err = ECONNRESET;
            return IoStatus::Closed;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (!waitFor(fd, POLLIN, deadline))
                return IoStatus::Timeout;
            continue;
        }
        *err = errno;
        return errno == ECONNRESET ? IoStatus::Closed : IoStatus::Error;
    }
    return IoStatus::Ok;
}

bool waitReadable(int fd, Clock::time_point deadline)
{
    return waitFor(fd, POLLIN, deadline);
}

void putBigEndian64(unsigned char* out, unsigned long long value)
{
    for (int i = 7; i >= 0; --i) {
        out[i] = static_cast<unsigned char>(value & 0xff);
        value >>= 8;
    }
}

unsigned long long bigEndian64(const unsigned char* in)
{
    unsigned long long value = 0;
    for (int i = 0; i < 8; ++i)
        value = (value << 8) | in[i];
    return value;
}

} // namespace fastboot::SocketIo

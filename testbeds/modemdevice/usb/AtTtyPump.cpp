#include "AtTtyPump.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace modemdevice {

AtTtyPump::AtTtyPump(int masterFd, ModuleModel& model, std::function<void()> onLeave)
    : m_master(masterFd)
    , m_model(model)
    , m_onLeave(std::move(onLeave))
{
    // A reply the host never reads must not block the thread for good.
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    char name[128];
    if (::ptsname_r(m_master, name, sizeof name) == 0)
        m_slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (::pipe2(m_wake, O_CLOEXEC) != 0)
        m_wake[0] = m_wake[1] = -1;
    m_thread = std::thread([this] { run(); });
}

AtTtyPump::~AtTtyPump()
{
    m_stop = true;
    if (m_wake[1] >= 0) {
        const char c = 0;
        [[maybe_unused]] const ssize_t n = ::write(m_wake[1], &c, 1);
    }
    m_thread.join();
    for (const int fd : {m_wake[0], m_wake[1], m_slave}) {
        if (fd >= 0)
            ::close(fd);
    }
}

void AtTtyPump::run()
{
    char buffer[4096];
    while (!m_stop) {
        pollfd fds[2] = {{m_master, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (m_stop || fds[1].revents)
            return;
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (n <= 0)
            return;
        const auto next = m_model.receive(buffer, size_t(n), [this](const std::string& bytes) { return write(bytes); });
        if (next == ModuleModel::Next::Disconnect) {
            m_onLeave();
            return;
        }
    }
}

bool AtTtyPump::write(const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size() && !m_stop) {
        const ssize_t n = ::write(m_master, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += size_t(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        // The host's side is full: wait until it reads or the module goes.
        pollfd fds[2] = {{m_master, POLLOUT, 0}, {m_wake[0], POLLIN, 0}};
        ::poll(fds, 2, -1);
    }
    return done == bytes.size();
}

} // namespace modemdevice

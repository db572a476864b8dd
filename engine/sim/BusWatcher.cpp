#include "BusWatcher.h"

#include "DeviceFile.h"

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <mutex>

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace sim {

struct BusWatcher::State {
    ~State()
    {
        if (inotifyFd >= 0)
            ::close(inotifyFd);
        if (wakeFd >= 0)
            ::close(wakeFd);
    }

    std::function<void()> onChange;
    int inotifyFd = -1;
    int wakeFd = -1;
    std::atomic<bool> stopping{false};
    std::mutex mutex;
    std::condition_variable exitedChanged;
    bool exited = false;
};

namespace {

constexpr uint32_t kMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_CLOSE_WRITE;

// Reads the pending inotify records; true when one names a device file.
bool deviceFileChanged(int fd)
{
    alignas(inotify_event) char buffer[16 * 1024];
    bool changed = false;
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return changed;
        for (ssize_t at = 0; at < n;) {
            const auto* ev = reinterpret_cast<const inotify_event*>(buffer + at);
            if (ev->len > 0 && DeviceFile::isDeviceFileName(ev->name))
                changed = true;
            at += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
        }
    }
}

} // namespace

BusWatcher::BusWatcher(std::string busDir, std::function<void()> onChange)
    : m_busDir(std::move(busDir))
    , m_state(std::make_shared<State>())
{
    m_state->onChange = std::move(onChange);
}

BusWatcher::~BusWatcher()
{
    stop();
}

bool BusWatcher::start()
{
    if (m_thread.joinable())
        return true;
    std::error_code ec;
    std::filesystem::create_directories(m_busDir, ec);
    m_state->inotifyFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    m_state->wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_state->inotifyFd < 0 || m_state->wakeFd < 0
        || ::inotify_add_watch(m_state->inotifyFd, m_busDir.c_str(), kMask) < 0)
        return false;
    m_thread = std::thread(&BusWatcher::run, m_state);
    return true;
}

void BusWatcher::stop(std::chrono::milliseconds deadline)
{
    if (!m_thread.joinable())
        return;
    m_state->stopping = true;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(m_state->wakeFd, &one, sizeof one);
    std::unique_lock lock(m_state->mutex);
    if (m_state->exitedChanged.wait_for(lock, deadline, [&] { return m_state->exited; })) {
        lock.unlock();
        m_thread.join();
    } else {
        // The thread holds its own reference to the state and ends when its
        // callback returns.
        lock.unlock();
        m_thread.detach();
    }
}

void BusWatcher::run(std::shared_ptr<State> state)
{
    pollfd fds[2] = {{state->inotifyFd, POLLIN, 0}, {state->wakeFd, POLLIN, 0}};
    while (!state->stopping) {
        if (::poll(fds, 2, -1) < 0 && errno != EINTR)
            break;
        if (state->stopping)
            break;
        if ((fds[0].revents & POLLIN) && deviceFileChanged(state->inotifyFd) && !state->stopping)
            state->onChange();
    }
    std::lock_guard lock(state->mutex);
    state->exited = true;
    state->exitedChanged.notify_all();
}

} // namespace sim

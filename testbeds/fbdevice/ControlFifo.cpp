#include "ControlFifo.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sstream>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fbdevice {

ControlFifo::~ControlFifo()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_fd >= 0) {
        ::close(m_fd);
        ::unlink(m_path.c_str());
    }
}

bool ControlFifo::start(const std::string& path, std::string* why)
{
    ::unlink(path.c_str());
    if (::mkfifo(path.c_str(), 0600) != 0) {
        *why = "cannot make " + path + ": " + std::strerror(errno);
        return false;
    }
    // Open for writing too, so that the pipe never reads as closed between
    // two writers.
    m_fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0) {
        *why = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    m_path = path;
    m_thread = std::thread(&ControlFifo::read, this);
    return true;
}

std::string ControlFifo::run(const std::string& line)
{
    std::istringstream in(line);
    std::string verb;
    int device = 0;
    if (!(in >> verb >> device) || (verb != "pull" && verb != "plug" && verb != "bootloader"))
        return "unknown command \"" + line + "\" (pull <n>, plug <n>, bootloader <n>)";
    return m_handler(verb, device);
}

void ControlFifo::read()
{
    std::string pending;
    while (!m_stop) {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, 200) <= 0)
            continue;
        char buffer[256];
        const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        if (n <= 0)
            continue;
        pending.append(buffer, size_t(n));
        for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
            const std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (line.find_first_not_of(" \t\r") == std::string::npos)
                continue;
            std::printf("%s\n", run(line).c_str());
            std::fflush(stdout);
        }
    }
}

} // namespace fbdevice

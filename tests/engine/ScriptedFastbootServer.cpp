#include "engine/ScriptedFastbootServer.h"

#include "SocketIo.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

using fastboot::Clock;
using fastboot::IoStatus;
namespace SocketIo = fastboot::SocketIo;

namespace {

Clock::time_point soon()
{
    return Clock::now() + std::chrono::seconds(30);
}

} // namespace

ScriptedFastbootServer::ScriptedFastbootServer(Script script)
    : m_script(std::move(script))
{
    std::string why;
    m_listenFd = SocketIo::listenLoopback(0, &why);
    m_port = SocketIo::localPort(m_listenFd);
    m_wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    m_thread = std::thread(&ScriptedFastbootServer::run, this);
}

ScriptedFastbootServer::~ScriptedFastbootServer()
{
    m_stop = true;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(m_wakeFd, &one, sizeof one);
    m_thread.join();
    ::close(m_listenFd);
    ::close(m_wakeFd);
}

std::string ScriptedFastbootServer::frame(const std::string& payload)
{
    std::string out(8, '\0');
    SocketIo::putBigEndian64(reinterpret_cast<unsigned char*>(out.data()), payload.size());
    return out + payload;
}

void ScriptedFastbootServer::run()
{
    while (!m_stop) {
        pollfd fds[2] = {{m_listenFd, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
        ::poll(fds, 2, -1);
        if (m_stop)
            return;
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) {
            serve(fd);
            ::close(fd);
        }
    }
}

void ScriptedFastbootServer::serve(int fd)
{
    int err = 0;
    char hello[4];
    if (SocketIo::receiveAll(fd, hello, 4, soon(), &err) != IoStatus::Ok
        || SocketIo::sendAll(fd, "FB01", 4, soon(), &err) != IoStatus::Ok)
        return;
    std::vector<char> buffer(1024 * 1024);
    for (;;) {
        unsigned char header[8];
        if (SocketIo::receiveAll(fd, header, 8, soon(), &err) != IoStatus::Ok)
            return;
        const uint64_t length = SocketIo::bigEndian64(header);
        if (length > 4096 || SocketIo::receiveAll(fd, buffer.data(), length, soon(), &err) != IoStatus::Ok)
            return;
        const Answer a = m_script(std::string(buffer.data(), length));
        if (a.split) {
            for (const char c : a.bytes) {
                if (SocketIo::sendAll(fd, &c, 1, soon(), &err) != IoStatus::Ok)
                    return;
                std::this_thread::sleep_for(std::chrono::microseconds(200)); // keep the bytes apart
            }
        } else if (SocketIo::sendAll(fd, a.bytes.data(), a.bytes.size(), soon(), &err) != IoStatus::Ok) {
            return;
        }
        if (a.close)
            return;
        if (a.silent) {
            // Hold the connection without a word until the host gives up.
            while (!m_stop && SocketIo::receiveAll(fd, buffer.data(), 1, Clock::now() + std::chrono::milliseconds(100), &err)
                                  != IoStatus::Closed) {
            }
            return;
        }
        uint64_t left = a.absorb;
        uint64_t taken = 0;
        while (left > 0) {
            if (SocketIo::receiveAll(fd, header, 8, soon(), &err) != IoStatus::Ok)
                return;
            uint64_t packet = SocketIo::bigEndian64(header);
            while (packet > 0) {
                const size_t n = size_t(std::min<uint64_t>(packet, buffer.size()));
                if (SocketIo::receiveAll(fd, buffer.data(), n, soon(), &err) != IoStatus::Ok)
                    return;
                packet -= n;
                left -= std::min<uint64_t>(left, n);
                taken += n;
                if (a.dropAfter > 0 && taken >= a.dropAfter)
                    return;
                if (a.stallAfter > 0 && taken >= a.stallAfter) {
                    // Read nothing more until the host hangs up or the test ends.
                    pollfd p{fd, POLLRDHUP, 0};
                    while (!m_stop && ::poll(&p, 1, 100) == 0) {
                    }
                    return;
                }
            }
        }
        if (a.absorb > 0 && SocketIo::sendAll(fd, a.afterData.data(), a.afterData.size(), soon(), &err) != IoStatus::Ok)
            return;
    }
}

ScriptedFastbootServer::Script ScriptedFastbootServer::silence()
{
    return [](const std::string&) {
        Answer a;
        a.silent = true;
        return a;
    };
}

ScriptedFastbootServer::Script ScriptedFastbootServer::always(const std::string& payload)
{
    return [bytes = frame(payload)](const std::string&) {
        Answer a;
        a.bytes = bytes;
        return a;
    };
}

#include "TcpDeviceServer.h"

#include "SocketIo.h"
#include "TcpTransport.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

namespace fbdevice {

namespace {

using fastboot::IoStatus;
namespace SocketIo = fastboot::SocketIo;

constexpr size_t kDataBlock = 1024 * 1024;

// A device waits for its host as long as the connection stays.
fastboot::Clock::time_point patient()
{
    return fastboot::Clock::now() + std::chrono::hours(24);
}

} // namespace

TcpDeviceServer::TcpDeviceServer(DeviceModel& model, int port)
    : m_model(model), m_port(port)
{
}

TcpDeviceServer::~TcpDeviceServer()
{
    stop();
}

bool TcpDeviceServer::start(std::string* error)
{
    if (m_thread.joinable())
        return true;
    m_listenFd = SocketIo::listenLoopback(m_port, error);
    if (m_listenFd < 0)
        return false;
    m_port = SocketIo::localPort(m_listenFd);
    m_wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    {
        std::lock_guard lock(m_mutex);
        m_stopping = false;
    }
    m_thread = std::thread(&TcpDeviceServer::run, this);
    return true;
}

void TcpDeviceServer::stop()
{
    if (!m_thread.joinable())
        return;
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        if (m_connectionFd >= 0)
            ::shutdown(m_connectionFd, SHUT_RDWR);
    }
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(m_wakeFd, &one, sizeof one);
    m_thread.join();
    ::close(m_listenFd);
    ::close(m_wakeFd);
    m_listenFd = m_wakeFd = -1;
}

void TcpDeviceServer::run()
{
    for (;;) {
        pollfd fds[2] = {{m_listenFd, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
        ::poll(fds, 2, -1);
        if (fds[1].revents & POLLIN)
            return;
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        {
            std::lock_guard lock(m_mutex);
            if (m_stopping) {
                ::close(fd);
                return;
            }
            m_connectionFd = fd;
        }
        ++m_connections;
        if (m_model.present())
            serve(fd);
        std::lock_guard lock(m_mutex);
        m_connectionFd = -1;
        ::close(fd);
    }
}

void TcpDeviceServer::serve(int fd)
{
    int err = 0;
    char hello[4];
    if (SocketIo::receiveAll(fd, hello, 4, fastboot::Clock::now() + std::chrono::seconds(10), &err) != IoStatus::Ok
        || !fastboot::TcpTransport::validHandshake(hello)
        || SocketIo::sendAll(fd, "FB01", 4, patient(), &err) != IoStatus::Ok)
        return;
    m_model.sessionStarted();
    const auto send = [&](const std::string& packet) { return sendPacket(fd, packet); };
    const std::unique_ptr<char[]> buffer(new char[kDataBlock]);
    for (;;) {
        // Acknowledge at once: a host that writes a frame's header and its
        // payload separately would otherwise wait for the delayed ACK.
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
        unsigned char header[8];
        if (SocketIo::receiveAll(fd, header, 8, patient(), &err) != IoStatus::Ok)
            break;
        uint64_t length = SocketIo::bigEndian64(header);
        bool drop = false;
        if (m_model.dataExpected() == 0) {
            // A command: one packet, handed over whole.
            if (length > DeviceModel::kMaxCommand
                || SocketIo::receiveAll(fd, buffer.get(), size_t(length), patient(), &err) != IoStatus::Ok)
                break;
            drop = m_model.receive(buffer.get(), size_t(length), send) == DeviceModel::Next::Disconnect;
        } else {
            // Download data: streamed to the model in blocks.
            while (length > 0 && !drop) {
                const size_t n = size_t(std::min<uint64_t>(length, kDataBlock));
                if (SocketIo::receiveAll(fd, buffer.get(), n, patient(), &err) != IoStatus::Ok) {
                    drop = true;
                    break;
                }
                length -= n;
                drop = m_model.receive(buffer.get(), n, send) == DeviceModel::Next::Disconnect;
            }
        }
        if (drop)
            break;
    }
    m_model.sessionEnded();
}

bool TcpDeviceServer::sendPacket(int fd, const std::string& packet)
{
    std::string frame(8, '\0');
    SocketIo::putBigEndian64(reinterpret_cast<unsigned char*>(frame.data()), packet.size());
    frame += packet;
    int err = 0;
    return SocketIo::sendAll(fd, frame.data(), frame.size(), patient(), &err) == IoStatus::Ok;
}

} // namespace fbdevice

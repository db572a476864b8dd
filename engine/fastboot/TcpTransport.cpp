#include "TcpTransport.h"

#include "SocketIo.h"

#include <cstring>
#include <vector>

#include <unistd.h>

namespace fastboot {

namespace {

constexpr size_t kHeader = 8;
// Commands are short: one buffer and one send for header and command.
constexpr size_t kJoinLimit = 4096;

} // namespace

bool TcpTransport::validHandshake(const char* b)
{
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    return b[0] == 'F' && b[1] == 'B' && digit(b[2]) && digit(b[3]) && !(b[2] == '0' && b[3] == '0');
}

std::unique_ptr<TcpTransport> TcpTransport::open(HostResolver& resolver, const std::string& host,
                                                 const std::string& port, Clock::time_point deadline,
                                                 std::string* error)
{
    const int fd = SocketIo::connectTcp(resolver, host, port, deadline, error);
    if (fd < 0)
        return nullptr;
    std::unique_ptr<TcpTransport> link(new TcpTransport(fd));
    int err = 0;
    char answer[4];
    if (SocketIo::sendAll(fd, "FB01", 4, deadline, &err) != IoStatus::Ok
        || SocketIo::receiveAll(fd, answer, 4, deadline, &err) != IoStatus::Ok) {
        *error = err != 0 ? std::strerror(err) : "no answer to the fastboot handshake";
        return nullptr;
    }
    if (!validHandshake(answer)) {
        *error = "the endpoint does not speak fastboot over TCP";
        return nullptr;
    }
    return link;
}

TcpTransport::~TcpTransport()
{
    ::close(m_fd);
}

IoStatus TcpTransport::failed(IoStatus status, int err)
{
    if (status == IoStatus::Timeout)
        m_error = "timed out";
    else if (status == IoStatus::FileError)
        m_error = err != 0 ? std::strerror(err) : "the file ended early";
    else
        m_error = err != 0 ? std::strerror(err) : "connection closed";
    return status;
}

IoStatus TcpTransport::send(const void* data, size_t size, Clock::time_point deadline)
{
    int err = 0;
    unsigned char header[kHeader];
    SocketIo::putBigEndian64(header, size);
    IoStatus status;
    if (size <= kJoinLimit) {
        unsigned char packet[kHeader + kJoinLimit];
        std::memcpy(packet, header, kHeader);
        std::memcpy(packet + kHeader, data, size);
        status = SocketIo::sendAll(m_fd, packet, kHeader + size, deadline, &err);
    } else {
        status = SocketIo::sendAll(m_fd, header, kHeader, deadline, &err);
        if (status == IoStatus::Ok)
            status = SocketIo::sendAll(m_fd, data, size, deadline, &err);
    }
    return status == IoStatus::Ok ? status : failed(status, err);
}

IoStatus TcpTransport::sendChunks(const std::vector<Chunk>& chunks, size_t size, Clock::time_point deadline)
{
    int err = 0;
    unsigned char header[kHeader];
    SocketIo::putBigEndian64(header, size);
    IoStatus status = SocketIo::sendAll(m_fd, header, kHeader, deadline, &err, size > 0);
    for (size_t i = 0; i < chunks.size() && status == IoStatus::Ok; ++i) {
        const Chunk& c = chunks[i];
        if (c.data)
            status = SocketIo::sendAll(m_fd, c.data, c.size, deadline, &err, i + 1 < chunks.size());
        else
            status = SocketIo::sendFileAll(m_fd, c.fd, c.offset, c.size, deadline, &err);
    }
    return status == IoStatus::Ok ? status : failed(status, err);
}

IoStatus TcpTransport::receive(void* buffer, size_t capacity, size_t* size, Clock::time_point deadline)
{
    int err = 0;
    unsigned char header[kHeader];
    IoStatus status = SocketIo::receiveAll(m_fd, header, kHeader, deadline, &err);
    if (status != IoStatus::Ok)
        return failed(status, err);
    const unsigned long long length = SocketIo::bigEndian64(header);
    if (length > capacity) {
        m_error = "packet of " + std::to_string(length) + " bytes where at most "
                  + std::to_string(capacity) + " were expected";
        return IoStatus::TooLarge;
    }
    status = SocketIo::receiveAll(m_fd, buffer, size_t(length), deadline, &err);
    if (status != IoStatus::Ok)
        return failed(status, err);
    *size = size_t(length);
    return IoStatus::Ok;
}

} // namespace fastboot

#pragma once

#include "Transport.h"

#include <memory>
#include <string>

namespace fastboot {

class HostResolver;

// Fastboot over TCP: after connecting, both sides send "FB" and a two-digit
// protocol version ("FB01"); then every packet is an 8-byte big-endian length
// followed by that many bytes.
class TcpTransport final : public Transport
{
public:
    // Connects and shakes hands; null with *error set when the endpoint does
    // not answer as a fastboot device before the deadline.
    static std::unique_ptr<TcpTransport> open(HostResolver& resolver, const std::string& host, const std::string& port,
                                              Clock::time_point deadline, std::string* error);
    ~TcpTransport() override;
    TcpTransport(const TcpTransport&) = delete;
    TcpTransport& operator=(const TcpTransport&) = delete;

    IoStatus send(const void* data, size_t size, Clock::time_point deadline) override;
    // The header and the memory stretches through the socket, the file
    // stretches with sendfile: image data is never copied through the engine.
    IoStatus sendChunks(const std::vector<Chunk>& chunks, size_t size, Clock::time_point deadline) override;
    bool sendsFromFiles() const override { return true; }
    IoStatus receive(void* buffer, size_t capacity, size_t* size, Clock::time_point deadline) override;
    std::string lastError() const override { return m_error; }

    // True for "FB" and two decimal digits naming version 1 or later.
    static bool validHandshake(const char* bytes);

private:
    explicit TcpTransport(int fd) : m_fd(fd) {}
    IoStatus failed(IoStatus status, int err);

    int m_fd;
    std::string m_error;
};

} // namespace fastboot

#pragma once

#include "PacketLink.h"

#include <memory>
#include <string>

namespace modem {

// A module's AT tty as a PacketLink: raw mode at 115200 without echo; a
// packet is whatever one read returned. Every call waits with poll until
// its deadline, never longer.
class TtyLink final : public PacketLink
{
public:
    // Null with *why set when the device node cannot be opened or set up.
    static std::unique_ptr<TtyLink> open(const std::string& path, std::string* why);
    ~TtyLink() override;
    TtyLink(const TtyLink&) = delete;
    TtyLink& operator=(const TtyLink&) = delete;

    IoStatus send(const void* data, size_t size, Clock::time_point deadline) override;
    IoStatus receive(void* buffer, size_t capacity, size_t* size, Clock::time_point deadline) override;
    size_t maxPacketSize() const override { return 0; }
    std::string lastError() const override { return m_error; }

private:
    TtyLink(int fd, std::string path);
    // Waits for events on the tty until the deadline.
    IoStatus wait(short events, Clock::time_point deadline);
    IoStatus failed(const char* what, int error);

    int m_fd;
    std::string m_path;
    std::string m_error;
};

} // namespace modem

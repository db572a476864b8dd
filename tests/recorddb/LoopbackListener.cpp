#include "recorddb/LoopbackListener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

LoopbackListener::LoopbackListener(Mode mode)
    : m_mode(mode)
{
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (m_listenFd < 0 || ::bind(m_listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
        || ::listen(m_listenFd, 16) != 0
        || ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return;
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { run(); });
}

LoopbackListener::~LoopbackListener()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    for (int fd : m_clients)
        ::close(fd);
    if (m_listenFd >= 0)
        ::close(m_listenFd);
}

void LoopbackListener::run()
{
    while (!m_stop) {
        pollfd fd{m_listenFd, POLLIN, 0};
        if (::poll(&fd, 1, 50) <= 0)
            continue;
        const int client = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        ++m_accepted;
        m_clients.push_back(client);
        if (m_mode == Mode::RefuseTls) {
            // The client's first message is the 8-byte TLS request.
            char request[8];
            pollfd in{client, POLLIN, 0};
            if (::poll(&in, 1, 5000) > 0 && ::recv(client, request, sizeof request, MSG_WAITALL) == 8)
                (void)::send(client, "N", 1, MSG_NOSIGNAL);
        }
    }
}

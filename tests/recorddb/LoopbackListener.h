#pragma once

#include <atomic>
#include <thread>
#include <vector>

// A TCP listener on 127.0.0.1 that plays a misbehaving server: it accepts
// connections and either never answers, or answers a request for TLS with
// "no" as a server without TLS does.
class LoopbackListener final
{
public:
    enum class Mode { Silent, RefuseTls };

    explicit LoopbackListener(Mode mode);
    ~LoopbackListener();
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    int port() const { return m_port; }
    int accepted() const { return m_accepted.load(); }

private:
    void run();

    Mode m_mode;
    int m_listenFd = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_accepted{0};
    std::vector<int> m_clients;
    std::thread m_thread;
};

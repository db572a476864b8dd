#pragma once

#include "DeviceModel.h"

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

namespace fbdevice {

// Serves one DeviceModel on a loopback TCP port with the fastboot TCP
// framing: the "FB01" handshake, then 8-byte big-endian length-prefixed
// packets. One host connection at a time, as a device serves one host; while
// the model reboots or runs its system, connections are closed without a
// handshake.
class TcpDeviceServer final
{
public:
    TcpDeviceServer(DeviceModel& model, int port);
    ~TcpDeviceServer();
    TcpDeviceServer(const TcpDeviceServer&) = delete;
    TcpDeviceServer& operator=(const TcpDeviceServer&) = delete;

    // Listens (port 0 picks a free one) and starts serving.
    bool start(std::string* error);
    // Unplugs: closes the port and any connection at once.
    void stop();
    int port() const { return m_port; }
    // Host connections accepted since the start.
    int connections() const { return m_connections; }

private:
    void run();
    void serve(int fd);
    bool sendPacket(int fd, const std::string& packet);

    DeviceModel& m_model;
    int m_port;
    int m_listenFd = -1;
    int m_wakeFd = -1;
    std::mutex m_mutex;
    int m_connectionFd = -1; // guarded by m_mutex
    bool m_stopping = false; // guarded by m_mutex
    std::atomic<int> m_connections{0};
    std::thread m_thread;
};

} // namespace fbdevice

#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

// A loopback TCP fastboot "device" that answers from a script, to drive the
// host side into every misbehaviour: split, garbage and oversize replies,
// silence, dropped connections. Serves connections one after another.
class ScriptedFastbootServer final
{
public:
    struct Answer
    {
        std::string bytes;     // written as they are (frames made with frame())
        bool split = false;    // one byte per write
        bool close = false;    // drop the connection after writing
        bool silent = false;   // never answer again on this connection
        uint64_t absorb = 0;   // download data to take in before the next command
        std::string afterData; // written once the data is in
        uint64_t dropAfter = 0; // drop the connection after this many data bytes
        uint64_t stallAfter = 0; // stop reading after this many data bytes, keep the connection
    };
    using Script = std::function<Answer(const std::string& command)>;

    explicit ScriptedFastbootServer(Script script);
    ~ScriptedFastbootServer();

    int port() const { return m_port; }
    std::string endpoint() const { return "tcp:127.0.0.1:" + std::to_string(m_port); }

    // One reply packet in the TCP framing.
    static std::string frame(const std::string& payload);
    // Scripts for a device that never answers, and one that answers every
    // command with the same reply packet.
    static Script silence();
    static Script always(const std::string& payload);

private:
    void run();
    void serve(int fd);

    Script m_script;
    int m_listenFd = -1;
    int m_wakeFd = -1;
    int m_port = 0;
    std::atomic_bool m_stop{false};
    std::thread m_thread;
};

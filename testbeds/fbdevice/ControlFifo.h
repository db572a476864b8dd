#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>

namespace fbdevice {

// The operator's hands for emulated devices: a named pipe that takes one
// command a line, "pull <n>", "plug <n>" or "bootloader <n>" (device n), so
// that a demo or a test can pull a unit out of its socket, put it back, or
// boot it from its system to the bootloader:
//   echo 'pull 2' > <fifo>
// Commands run on a thread of its own, which ends with the object.
class ControlFifo final
{
public:
    // Returns a text for the operator ("device 2 pulled").
    using Handler = std::function<std::string(const std::string& verb, int device)>;

    explicit ControlFifo(Handler handler) : m_handler(std::move(handler)) {}
    ~ControlFifo();
    ControlFifo(const ControlFifo&) = delete;
    ControlFifo& operator=(const ControlFifo&) = delete;

    // Makes the pipe (replacing a stale one) and starts reading it.
    bool start(const std::string& path, std::string* why);

    // One command line: the handler's answer, or why it is no command.
    std::string run(const std::string& line);

private:
    void read();

    Handler m_handler;
    std::string m_path;
    int m_fd = -1;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

} // namespace fbdevice

#pragma once

#include "ModuleModel.h"

#include <atomic>
#include <functional>
#include <thread>

namespace modemdevice {

// The module's side of its AT tty on the emulated hub: a thread reads the
// PTY's master end, hands what the host wrote to the model in normal mode
// and writes the replies back. When the model leaves the bus (the switch
// command), onLeave is called once, on this thread, and nothing more is read.
class AtTtyPump final
{
public:
    AtTtyPump(int masterFd, ModuleModel& model, std::function<void()> onLeave);
    ~AtTtyPump();
    AtTtyPump(const AtTtyPump&) = delete;
    AtTtyPump& operator=(const AtTtyPump&) = delete;

private:
    void run();
    bool write(const std::string& bytes);

    int m_master;
    int m_slave = -1;   // held open so that the PTY never hangs up between hosts
    int m_wake[2] = {-1, -1};
    ModuleModel& m_model;
    std::function<void()> m_onLeave;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

} // namespace modemdevice

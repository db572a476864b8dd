#pragma once

#include "ModuleModel.h"
#include "ModulePty.h"

#include <atomic>
#include <functional>
#include <thread>

namespace modemdevice {

// The module's side of its AT tty on the emulated hub: a thread reads the
// PTY's master end, hands what the host wrote to the model in normal mode
// and writes the replies back. When the model leaves the bus (the switch
// command), onLeave is called once, on this thread, and nothing more is
// read: after a moment, and once the host has read the last reply, because
// the tty's hangup when the module goes throws away what is still unread.
class AtTtyPump final
{
public:
    AtTtyPump(const ModulePty& pty, ModuleModel& model, std::function<void()> onLeave);
    ~AtTtyPump();
    AtTtyPump(const AtTtyPump&) = delete;
    AtTtyPump& operator=(const AtTtyPump&) = delete;

private:
    void run();
    bool write(const std::string& bytes);
    // Waits for the host to take the last reply; false when stopped.
    bool settle();
    // Waits up to ms for the stop; true when stopped.
    bool stopped(int ms);

    const ModulePty& m_pty;
    int m_master;
    int m_wake[2] = {-1, -1};
    ModuleModel& m_model;
    std::function<void()> m_onLeave;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

} // namespace modemdevice

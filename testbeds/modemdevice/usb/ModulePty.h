#pragma once

#include <string>

namespace modemdevice {

// One tty of an emulated module: a PTY whose slave end is the device node a
// host opens and whose master end is the module's. The module holds a slave
// fd of its own, so that a host closing the tty does not hang it up; when
// the module leaves the bus (this object goes), the tty hangs up for every
// host that still has it open, as a USB serial tty does when its device goes.
class ModulePty final
{
public:
    ModulePty();
    ~ModulePty();
    ModulePty(const ModulePty&) = delete;
    ModulePty& operator=(const ModulePty&) = delete;

    bool isOpen() const { return m_master >= 0 && m_slave >= 0; }
    int master() const { return m_master; }
    // The slave's path ("/dev/pts/7").
    const std::string& slaveName() const { return m_slaveName; }
    // Bytes the module sent that no host has read yet.
    int unread() const;

private:
    int m_master = -1;
    int m_slave = -1;
    std::string m_slaveName;
};

} // namespace modemdevice

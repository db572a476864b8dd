#include "ModulePty.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace modemdevice {

ModulePty::ModulePty()
    : m_master(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC))
{
    char name[128];
    if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0
        || ::ptsname_r(m_master, name, sizeof name) != 0)
        return;
    m_slaveName = name;
    m_slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    // No echo, no line editing, no CR/NL translation, as a USB serial tty
    // before a host sets it up.
    termios t{};
    if (m_slave >= 0 && ::tcgetattr(m_slave, &t) == 0) {
        t.c_iflag &= ~tcflag_t(IGNCR | INLCR | ICRNL);
        t.c_oflag &= ~tcflag_t(ONLCR | OCRNL);
        t.c_lflag &= ~tcflag_t(ICANON | ECHO);
        ::tcsetattr(m_slave, TCSANOW, &t);
    }
    // A reply the host never reads must not block the module.
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
}

int ModulePty::unread() const
{
    int n = 0;
    return m_slave >= 0 && ::ioctl(m_slave, FIONREAD, &n) == 0 ? n : 0;
}

ModulePty::~ModulePty()
{
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_master >= 0)
        ::close(m_master);
}

} // namespace modemdevice

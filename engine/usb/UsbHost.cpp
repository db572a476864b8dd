#include "UsbHost.h"

#include <cstdio>

namespace usb {

UsbHost::UsbHost(UsbPortSettings settings, UsbInterfaceClass wanted, std::string name,
                 std::function<void()> onChange)
    : m_name(std::move(name))
    , m_ports(std::move(settings))
    , m_onChange(std::move(onChange))
    , m_bus(std::make_unique<UsbBus>(wanted))
{
    m_bus->setBootRomIds(m_ports.bootRomIds());
    std::string error;
    if (!m_bus->start([this] { busChanged(); }, &error)) {
        // A station without USB still drives its TCP devices.
        report(error);
        m_bus.reset();
        return;
    }
    busChanged(); // learn what is plugged in already
}

UsbHost::~UsbHost()
{
    if (m_bus)
        m_bus->stop();
}

void UsbHost::reload()
{
    std::string warning;
    m_ports.reload(&warning);
    if (!warning.empty())
        report(warning);
    if (m_bus)
        m_bus->setBootRomIds(m_ports.bootRomIds());
}

UsbHost::Enumeration UsbHost::enumeration(const UsbLocation& socket) const
{
    if (!m_bus)
        return {};
    for (const UsbDeviceInfo& device : m_bus->devices()) {
        if (device.socket != socket)
            continue;
        // A device told to reboot is on its way out: gone already, so that
        // no query waits for it and the line is offered when it is back.
        if (device.address == m_bus->leavingAddress(socket))
            return {};
        const Presence presence = device.bootRom        ? Presence::BootRom
                                  : device.hasInterface ? Presence::Ready
                                                        : Presence::Other;
        return {device.address, presence};
    }
    return {};
}

void UsbHost::report(const std::string& text) const
{
    std::fprintf(stderr, "%s: %s\n", m_name.c_str(), text.c_str());
}

void UsbHost::busChanged()
{
    if (m_ports.learning()) {
        for (const UsbDeviceInfo& device : m_bus->devices()) {
            if (m_ports.portOf(device.socket) != 0 || !(device.hasInterface || device.bootRom))
                continue;
            std::string error;
            if (m_ports.learn(device.socket, &error) == 0)
                report(error);
        }
    }
    if (m_onChange)
        m_onChange();
}

} // namespace usb

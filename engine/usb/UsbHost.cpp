#include "UsbHost.h"

#include <cstdio>

namespace fastboot {

UsbHost::UsbHost(std::string configPath, std::function<void()> onChange)
    : m_ports(std::move(configPath))
    , m_onChange(std::move(onChange))
    , m_bus(std::make_unique<UsbBus>())
{
    m_bus->setBootRomIds(m_ports.bootRomIds());
    std::string error;
    if (!m_bus->start([this] { busChanged(); }, &error)) {
        // A station without USB still drives its TCP devices.
        std::fprintf(stderr, "fastboot engine: %s\n", error.c_str());
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
        std::fprintf(stderr, "fastboot engine: %s\n", warning.c_str());
    if (m_bus)
        m_bus->setBootRomIds(m_ports.bootRomIds());
}

UsbHost::Presence UsbHost::presence(const UsbLocation& socket) const
{
    if (!m_bus)
        return Presence::None;
    for (const UsbDeviceInfo& device : m_bus->devices()) {
        if (device.socket != socket)
            continue;
        // A device told to reboot is on its way out: gone already, so that
        // no query waits for it and the line is offered when it is back.
        if (device.address == m_bus->leavingAddress(socket))
            return Presence::None;
        return device.bootRom ? Presence::BootRom : device.fastboot ? Presence::Fastboot : Presence::Other;
    }
    return Presence::None;
}

int UsbHost::enumeration(const UsbLocation& socket) const
{
    if (presence(socket) == Presence::None)
        return 0;
    for (const UsbDeviceInfo& device : m_bus->devices()) {
        if (device.socket == socket)
            return device.address * 4 + (device.bootRom ? 1 : device.fastboot ? 2 : 3);
    }
    return 0;
}

void UsbHost::busChanged()
{
    if (m_ports.learning()) {
        for (const UsbDeviceInfo& device : m_bus->devices()) {
            if (m_ports.portOf(device.socket) != 0 || !(device.fastboot || device.bootRom))
                continue;
            std::string error;
            if (m_ports.learn(device.socket, &error) == 0)
                std::fprintf(stderr, "fastboot engine: %s\n", error.c_str());
        }
    }
    if (m_onChange)
        m_onChange();
}

} // namespace fastboot

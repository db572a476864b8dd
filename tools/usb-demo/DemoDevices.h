#pragma once

#include "DeviceModel.h"
#include "UsbTestbed.h"

#include <memory>
#include <string>
#include <vector>

// The USB demo's devices: an emulated hub with a device in each of its first
// five sockets (one for each line the window shows), as an operator would
// plug them in to set a station up. Four are fastboot devices like those of
// the TCP demo (two to pass, one of another product line, one whose flash of
// system fails); the one in socket 1-1.4 is a phone in a boot-ROM mode. The
// partitions the devices receive land in <folder>/device-<n>/.
class DemoDevices final
{
public:
    struct Device
    {
        std::string socket;
        bool bootRom = false;
        fbdevice::DeviceSettings settings;
    };

    // The devices, socket after socket.
    static std::vector<Device> plan(const std::string& folder);

    // Sets the testbed up and plugs every device in. Throws when umockdev
    // cannot.
    explicit DemoDevices(const std::string& folder);
    ~DemoDevices();
    DemoDevices(const DemoDevices&) = delete;
    DemoDevices& operator=(const DemoDevices&) = delete;

    const std::vector<Device>& devices() const { return m_devices; }
    // The operator's hands on device n (1..5): "pull", "plug" (put back in
    // the mode it is in) or "bootloader" (from its system to fastboot).
    std::string handle(const std::string& verb, int n);

private:
    std::vector<Device> m_devices;
    std::vector<std::unique_ptr<fbdevice::DeviceModel>> m_models; // outlive the bus's devices
    std::unique_ptr<UsbTestbed> m_bed;
};

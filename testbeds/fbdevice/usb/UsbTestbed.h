#pragma once

#include "EmulatedUsbDevice.h"

#include "DeviceModel.h"

namespace modemdevice {
class AtTtyPump;
class ModuleModel;
class ModulePty;
}

#include <atomic>
#include <functional>
#include <cstdint>
#include <thread>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

typedef struct _UMockdevTestbed UMockdevTestbed;

// An emulated USB tree for the tests and the USB demo, through umockdev: sysfs, udev and the
// usbfs device nodes of this process are the testbed's while it lives.
//
// The tree: bus 1 is a USB 2 root hub with a seven-port hub on its port 1
// ("1-1"); bus 2 is the SuperSpeed half of the same controller, with the
// SuperSpeed half of that hub ("2-1"), each port paired with its USB 2 twin
// by a "peer" link. Devices go into the ports ("1-1.3", "2-1.3", "1-2").
// Every plug gets a fresh device address, as the kernel gives one.
class UsbTestbed final
{
public:
    // True when this process runs with umockdev's preload library; else
    // *why says what is missing.
    static bool available(std::string* why);

    UsbTestbed();
    ~UsbTestbed();
    UsbTestbed(const UsbTestbed&) = delete;
    UsbTestbed& operator=(const UsbTestbed&) = delete;

    struct Ids {
        uint16_t vendor = 0x18d1;
        uint16_t product = 0x4ee0;
        bool fastboot = true; // with the fastboot interface (else a vendor interface)
    };

    // Puts a device into a port; returns its address. model may be null for
    // a device that is never opened.
    int plug(const std::string& location, std::shared_ptr<PacketDevice> model, Ids ids);
    int plug(const std::string& location, std::shared_ptr<PacketDevice> model) { return plug(location, std::move(model), Ids{}); }
    // An emulated fastboot device whose model outlives re-plugging: when the
    // model reboots or drops its link, the device leaves the bus and comes
    // back in the socket comeBackAt (the same one when empty) at a new
    // address: in fastboot once the model is present again, or, once it runs
    // its system (after "reboot"), as a device with another product id and
    // no fastboot interface.
    int plugModel(const std::string& location, fbdevice::DeviceModel& model, const std::string& comeBackAt = {});
    // The operator's hands on a unit plugged with plugModel: pulls it out
    // (it stays out, also when it was rebooting), puts it back in the mode it
    // is in, or boots it to the bootloader (re-plugged in fastboot).
    void pull(const std::string& location);
    void putBack(const std::string& location);
    void bootToBootloader(const std::string& location);
    // An emulated cellular module whose model outlives re-plugging, plugged
    // in the mode the model is in. Normal mode: the ids of its settings,
    // interfaces 0..2 (class ff/ff/ff, a bulk pair each) with a tty each as
    // the USB serial driver shows it, the one of settings.atInterface
    // answering AT. Download mode: 05c6:9008 with one ff/ff/ff interface
    // (Sahara, then Firehose). When the mode changes (the switch command, a
    // power reset, a dropped link) the module leaves the bus and comes back
    // in comeBackAt (the same socket when empty) at a new address. pull and
    // putBack work for modules as for fastboot units.
    int plugModule(const std::string& location, modemdevice::ModuleModel& model, const std::string& comeBackAt = {});
    // The ids of a module in download mode.
    static constexpr Ids kDownloadIds{0x05c6, 0x9008, false};
    // The device node of the module's AT tty ("/dev/ttyUSB4", or
    // "/dev/ttyACM4" for settings.cdcAcm; a PTY that hangs up when the
    // module leaves), empty when the socket holds no module in normal mode.
    std::string atTty(const std::string& location);

    // The ids of a unit running its system.
    static constexpr Ids kSystemIds{0x18d1, 0x4ee1, false};
    // How many times a device has arrived in the port.
    int arrivals(const std::string& location);

    // Pulls the device out of the port (a remove uevent).
    void unplug(const std::string& location);
    // The device now in that port, or null.
    EmulatedUsbDevice* device(const std::string& location);

    // The device node of the device in the port, as a path of the real file
    // system (for changing its permissions).
    std::string nodeFile(const std::string& location);

    // Root of the emulated sysfs, as the code under test sees it ("/sys").
    std::string rootDir() const;

private:
    struct Plugged {
        std::string sysPath;
        std::string node; // "/dev/bus/usb/001/005"
        std::unique_ptr<EmulatedUsbDevice> device;
        std::vector<std::string> children; // interfaces and ttys, the deepest first
        std::string atTty;
        std::vector<std::unique_ptr<modemdevice::ModulePty>> ttys; // hang up when the module goes
        std::unique_ptr<modemdevice::AtTtyPump> pump;
    };
    void add(const std::string& sysPath, const std::string& record);
    // A module in normal mode: its interfaces and ttys, the AT one pumped.
    int plugNormalModule(const std::string& location, modemdevice::ModuleModel& model,
                         const std::function<void(EmulatedUsbDevice*)>& onLeave);
    // The module leaves its socket and comes back in back as its model now is.
    void moduleLeft(const std::string& location, const std::string& back, modemdevice::ModuleModel& model,
                    EmulatedUsbDevice* plugged);
    void addHub(const std::string& location, int speed);
    std::string sysPathOf(const std::string& location) const;
    int nextAddress(int bus);
    // Gives the device node of bus/address to device's ioctl handler; the
    // node's path ("/dev/bus/usb/001/005").
    std::string attachNode(int bus, int address, EmulatedUsbDevice& device);
    // Plugs the unit in as its model is now.
    void plugAsIs(const std::string& location, fbdevice::DeviceModel& model);

    UMockdevTestbed* m_testbed = nullptr;
    std::mutex m_mutex;
    std::map<int, int> m_lastAddress;
    std::map<std::string, Plugged> m_plugged;
    std::vector<std::unique_ptr<EmulatedUsbDevice>> m_retired; // kept until the testbed goes
    std::map<std::string, int> m_arrivals;
    std::map<std::string, fbdevice::DeviceModel*> m_models; // the unit of each socket, plugged or not
    std::map<std::string, modemdevice::ModuleModel*> m_modules; // likewise for modules
    std::map<std::string, bool> m_pulled;
    int m_nextTty = 0; // tty numbers are not reused: umockdev keeps each node's PTY to the end
    std::mutex m_handsMutex; // one hand at a time on the sockets: returns from reboots, pull, put back
    std::atomic<bool> m_closing{false};
    std::vector<std::thread> m_returns; // devices on their way back
};

#include "UsbTestbed.h"

#include <umockdev.h>

#include "AtTtyPump.h"
#include "ModelPacketDevice.h"
#include "ModulePacketDevice.h"
#include "ModulePty.h"

#include <chrono>
#include <cstdio>
#include <dlfcn.h>
#include <unistd.h>
#include <stdexcept>

namespace {

constexpr const char* kController = "/devices/pci0000:00/0000:00:14.0";
constexpr int kHubPorts = 7;

void put16(std::string& out, int value)
{
    out += static_cast<char>(value & 0xff);
    out += static_cast<char>((value >> 8) & 0xff);
}

std::string deviceDescriptor(int usb, int deviceClass, int maxPacket, int vendor, int product)
{
    std::string d = {18, 1};
    put16(d, usb);
    d += static_cast<char>(deviceClass);
    d += '\0';
    d += '\0';
    d += static_cast<char>(maxPacket);
    put16(d, vendor);
    put16(d, product);
    put16(d, 0x0100);
    d += std::string{0, 0, 0, 1}; // no strings, one configuration
    return d;
}

std::string endpoint(int address, int attributes, int maxPacket, int interval)
{
    std::string e = {7, 5, static_cast<char>(address), static_cast<char>(attributes)};
    put16(e, maxPacket);
    e += static_cast<char>(interval);
    return e;
}

// One configuration with one interface and its endpoints.
std::string configuration(int cls, int subclass, int protocol, const std::string& endpoints, int count)
{
    std::string c = {9, 2};
    put16(c, 9 + 9 + static_cast<int>(endpoints.size()));
    c += std::string{1, 1, 0, static_cast<char>(0x80), static_cast<char>(0xfa)};
    c += std::string{9, 4, 0, 0, static_cast<char>(count), static_cast<char>(cls), static_cast<char>(subclass),
                     static_cast<char>(protocol), 0};
    return c + endpoints;
}

// One configuration with a vendor interface (ff/ff/ff, a bulk pair) for each
// of a module's ports.
std::string moduleConfiguration(int interfaces, int maxPacket)
{
    std::string body;
    for (int n = 0; n < interfaces; ++n) {
        body += std::string{9, 4, static_cast<char>(n), 0, 2, static_cast<char>(0xff), static_cast<char>(0xff),
                            static_cast<char>(0xff), 0};
        body += endpoint(0x81 + n, 2, maxPacket, 0) + endpoint(0x01 + n, 2, maxPacket, 0);
    }
    std::string c = {9, 2};
    put16(c, 9 + static_cast<int>(body.size()));
    c += std::string{static_cast<char>(interfaces), 1, 0, static_cast<char>(0x80), static_cast<char>(0xfa)};
    return c + body;
}

// A device in normal mode that is never spoken to over usbfs (its ports
// belong to the serial driver): it takes what it is sent and says nothing.
class InertDevice final : public PacketDevice
{
public:
    void receive(std::string_view) override {}
    std::optional<std::string> nextReply() override { return std::nullopt; }
};

std::string hex(const std::string& bytes)
{
    std::string out;
    char buf[3];
    for (const unsigned char c : bytes) {
        std::snprintf(buf, sizeof buf, "%02x", c);
        out += buf;
    }
    return out;
}

int busOf(const std::string& location)
{
    return std::stoi(location.substr(0, location.find('-')));
}

// The sysfs name of the hub a location hangs on and the port there.
std::string parentOf(const std::string& location)
{
    const size_t dot = location.rfind('.');
    if (dot != std::string::npos)
        return location.substr(0, dot);
    return "usb" + std::to_string(busOf(location));
}

std::string record(const std::string& sysPath, int bus, int address, int speed, const std::string& descriptors)
{
    char node[32];
    std::snprintf(node, sizeof node, "bus/usb/%03d/%03d", bus, address);
    char numbers[64];
    std::snprintf(numbers, sizeof numbers, "E: BUSNUM=%03d\nE: DEVNUM=%03d\n", bus, address);
    return "P: " + sysPath + "\nN: " + node + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DRIVER=usb\n"
        + numbers + "E: DEVNAME=/dev/" + node + "\nA: busnum=" + std::to_string(bus) + "\\n\nA: devnum="
        + std::to_string(address) + "\\n\nA: speed=" + std::to_string(speed)
        + "\\n\nA: bConfigurationValue=1\\n\nH: descriptors=" + hex(descriptors) + "\n";
}

} // namespace

bool UsbTestbed::available(std::string* why)
{
    // The tests link the preload library rather than rely on LD_PRELOAD,
    // which umockdev_in_mock_environment() looks for.
    if (umockdev_in_mock_environment())
        return true;
    if (void* preload = ::dlopen("libumockdev-preload.so.0", RTLD_NOW | RTLD_NOLOAD)) {
        ::dlclose(preload);
        return true;
    }
    if (why)
        *why = "not running under umockdev's preload library (libumockdev-preload.so.0)";
    return false;
}

UsbTestbed::UsbTestbed()
    : m_testbed(umockdev_testbed_new())
{
    if (!m_testbed)
        throw std::runtime_error("umockdev_testbed_new failed");
    addHub("usb1", 480);
    addHub("usb2", 5000);
    addHub("1-1", 480);
    addHub("2-1", 5000);
    // Pair the SuperSpeed ports with their USB 2 twins, both ways.
    for (int port = 1; port <= kHubPorts; ++port) {
        const std::string p = std::to_string(port);
        umockdev_testbed_set_attribute_link(m_testbed, ("/sys" + sysPathOf("2-1")).c_str(),
                                            ("2-1:1.0/2-1-port" + p + "/peer").c_str(),
                                            ("../../../../usb1/1-1/1-1:1.0/1-1-port" + p).c_str());
        umockdev_testbed_set_attribute_link(m_testbed, ("/sys" + sysPathOf("1-1")).c_str(),
                                            ("1-1:1.0/1-1-port" + p + "/peer").c_str(),
                                            ("../../../../usb2/2-1/2-1:1.0/2-1-port" + p).c_str());
    }
}

UsbTestbed::~UsbTestbed()
{
    std::vector<std::thread> returns;
    {
        std::lock_guard lock(m_mutex);
        m_closing = true;
        returns.swap(m_returns);
    }
    for (std::thread& t : returns)
        t.join();
    std::vector<std::unique_ptr<modemdevice::AtTtyPump>> pumps;
    {
        std::lock_guard lock(m_mutex);
        for (auto& [location, plugged] : m_plugged) {
            plugged.device->unplug();
            pumps.push_back(std::move(plugged.pump));
        }
    }
    pumps.clear(); // outside the lock: a pump may be reporting a switch
    g_object_unref(m_testbed);
}

std::string UsbTestbed::rootDir() const
{
    return "/sys";
}

std::string UsbTestbed::sysPathOf(const std::string& location) const
{
    if (location.rfind("usb", 0) == 0)
        return std::string(kController) + "/" + location;
    return sysPathOf(parentOf(location)) + "/" + location;
}

int UsbTestbed::nextAddress(int bus)
{
    int& last = m_lastAddress[bus];
    last = last < 2 ? 2 : last + 1;
    if (last > 127)
        last = 2;
    return last;
}

void UsbTestbed::addHub(const std::string& location, int speed)
{
    const bool root = location.rfind("usb", 0) == 0;
    const int bus = root ? std::stoi(location.substr(3)) : busOf(location);
    const int address = root ? 1 : nextAddress(bus);
    if (root)
        m_lastAddress[bus] = 1;
    const bool super = speed >= 5000;
    const std::string descriptors = deviceDescriptor(super ? 0x0300 : 0x0200, 9, super ? 9 : 64, 0x1d6b,
                                                     super ? 3 : 2)
        + configuration(9, 0, 0, endpoint(0x81, 3, 4, 12), 1);
    add(sysPathOf(location), record(sysPathOf(location), bus, address, speed, descriptors));
}

void UsbTestbed::add(const std::string& sysPath, const std::string& text)
{
    umockdev_testbed_add_from_string(m_testbed, text.c_str(), nullptr);
    // umockdev sends the add uevent itself only when it finds its library in
    // LD_PRELOAD; these tests link it instead.
    if (!umockdev_in_mock_environment())
        umockdev_testbed_uevent(m_testbed, ("/sys" + sysPath).c_str(), "add");
}

std::string UsbTestbed::attachNode(int bus, int address, EmulatedUsbDevice& device)
{
    char node[32];
    std::snprintf(node, sizeof node, "/dev/bus/usb/%03d/%03d", bus, address);
    GError* error = nullptr;
    if (!umockdev_testbed_attach_ioctl(m_testbed, node, device.handler(), &error)) {
        const std::string text = error ? error->message : "unknown error";
        g_clear_error(&error);
        throw std::runtime_error("attach_ioctl " + std::string(node) + ": " + text);
    }
    return node;
}

int UsbTestbed::plug(const std::string& location, std::shared_ptr<PacketDevice> model, Ids ids)
{
    std::lock_guard lock(m_mutex);
    const int bus = busOf(location);
    const int address = nextAddress(bus);
    const int speed = bus == 2 ? 5000 : 480;
    const std::string endpoints = endpoint(0x81, 2, speed >= 5000 ? 1024 : 512, 0)
        + endpoint(0x01, 2, speed >= 5000 ? 1024 : 512, 0);
    const std::string descriptors = deviceDescriptor(speed >= 5000 ? 0x0300 : 0x0200, 0, 64, ids.vendor, ids.product)
        + (ids.fastboot ? configuration(0xff, 0x42, 0x03, endpoints, 2) : configuration(0xff, 0xff, 0xff, endpoints, 2));

    auto device = std::make_unique<EmulatedUsbDevice>(std::move(model));
    device->setDescriptors(descriptors);
    // The handler goes first, so that the node answers as soon as udev reports it.
    const std::string node = attachNode(bus, address, *device);
    const std::string sysPath = sysPathOf(location);
    add(sysPath, record(sysPath, bus, address, speed, descriptors));
    m_plugged[location] = Plugged{sysPath, node, std::move(device), {}, {}, {}, nullptr};
    ++m_arrivals[location];
    return address;
}

int UsbTestbed::plugModel(const std::string& location, fbdevice::DeviceModel& model, const std::string& comeBackAt)
{
    const int address = plug(location, std::make_shared<ModelPacketDevice>(model));
    const std::string back = comeBackAt.empty() ? location : comeBackAt;
    {
        std::lock_guard lock(m_mutex);
        m_models[location] = &model;
        m_models[back] = &model;
        m_pulled[back] = false;
    }
    EmulatedUsbDevice* plugged = device(location);
    plugged->setOnLeave([this, location, back, &model, plugged] {
        // Not on umockdev's thread: that one serves the ioctls of the bus.
        std::lock_guard lock(m_mutex);
        if (m_closing)
            return;
        m_returns.emplace_back([this, location, back, &model, plugged] {
            {
                std::lock_guard hands(m_handsMutex);
                if (device(location) == plugged)
                    unplug(location);
            }
            // The model says when its reboot is over.
            while (!model.present() && !model.inSystem()) {
                if (m_closing)
                    return;
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            std::lock_guard hands(m_handsMutex);
            {
                std::lock_guard lock(m_mutex);
                if (m_closing || m_pulled[back] || m_plugged.count(back))
                    return;
            }
            plugAsIs(back, model);
        });
    });
    return address;
}

int UsbTestbed::plugModule(const std::string& location, modemdevice::ModuleModel& model, const std::string& comeBackAt)
{
    const std::string back = comeBackAt.empty() ? location : comeBackAt;
    {
        std::lock_guard lock(m_mutex);
        m_modules[location] = &model;
        m_modules[back] = &model;
        m_pulled[back] = false;
    }
    if (model.mode() == modemdevice::ModuleModel::Mode::Normal) {
        return plugNormalModule(location, model, [this, location, back, &model](EmulatedUsbDevice* plugged) {
            moduleLeft(location, back, model, plugged);
        });
    }
    const int address = plug(location, std::make_shared<modemdevice::ModulePacketDevice>(model), kDownloadIds);
    EmulatedUsbDevice* plugged = device(location);
    plugged->setOnLeave([this, location, back, &model, plugged] { moduleLeft(location, back, model, plugged); });
    return address;
}

int UsbTestbed::plugNormalModule(const std::string& location, modemdevice::ModuleModel& model,
                                 const std::function<void(EmulatedUsbDevice*)>& onLeave)
{
    const modemdevice::ModuleSettings settings = model.settings();
    constexpr int kPorts = 3;
    std::lock_guard lock(m_mutex);
    const int bus = busOf(location);
    const int address = nextAddress(bus);
    const int speed = bus == 2 ? 5000 : 480;
    const std::string descriptors = deviceDescriptor(speed >= 5000 ? 0x0300 : 0x0200, 0, 64, settings.vendor,
                                                     settings.product)
        + moduleConfiguration(kPorts, speed >= 5000 ? 1024 : 512);

    auto device = std::make_unique<EmulatedUsbDevice>(std::make_shared<InertDevice>());
    const std::string node = attachNode(bus, address, *device);
    // Interfaces and ttys go in before the device itself, so that a host that
    // hears of the device finds its ports complete.
    const std::string sysPath = sysPathOf(location);
    gchar* rootDir = umockdev_testbed_get_root_dir(m_testbed);
    const std::string root = rootDir;
    g_free(rootDir);
    std::vector<std::string> children;
    std::vector<std::unique_ptr<modemdevice::ModulePty>> ttys;
    std::string atTty;
    modemdevice::ModulePty* atPty = nullptr;
    for (int n = 0; n < kPorts; ++n) {
        const std::string name = location + ":1." + std::to_string(n);
        const std::string interfacePath = sysPath + "/" + name;
        // The USB serial driver puts a port device between interface and
        // tty; the CDC-ACM driver hangs the tty on the interface itself.
        const std::string minor = std::to_string(m_nextTty++);
        const std::string tty = (settings.cdcAcm ? "ttyACM" : "ttyUSB") + minor;
        const std::string ttyPath = interfacePath + (settings.cdcAcm ? "" : "/" + tty) + "/tty/" + tty;
        const std::string major = settings.cdcAcm ? "166" : "188";
        // A tty without contents is a PTY in umockdev.
        const std::string ttyRecord = "P: " + ttyPath + "\nN: " + tty + "\nE: SUBSYSTEM=tty\nE: DEVNAME=/dev/" + tty
            + "\nE: MAJOR=" + major + "\nE: MINOR=" + minor + "\nA: dev=" + major + ":" + minor + "\\n\n";
        const std::string interfaceRecord = "P: " + interfacePath + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nE: DRIVER="
            + (settings.cdcAcm ? "cdc_acm" : "option") + "\nA: bInterfaceNumber=0"
            + std::to_string(n)
            + "\\n\nA: bInterfaceClass=ff\\n\nA: bInterfaceSubClass=ff\\n\nA: bInterfaceProtocol=ff\\n\n"
              "A: bNumEndpoints=02\\n\n";
        umockdev_testbed_add_from_string(m_testbed, ttyRecord.c_str(), nullptr);
        umockdev_testbed_add_from_string(m_testbed, interfaceRecord.c_str(), nullptr);
        children.push_back(ttyPath);
        children.push_back(interfacePath);
        // The node leads to a PTY of the module's own instead of umockdev's,
        // which lives as long as the testbed and so could never hang up.
        auto pty = std::make_unique<modemdevice::ModulePty>();
        const std::string nodeFile = root + "/dev/" + tty;
        if (!pty->isOpen() || ::unlink(nodeFile.c_str()) != 0
            || ::symlink(pty->slaveName().c_str(), nodeFile.c_str()) != 0)
            throw std::runtime_error("no PTY for " + nodeFile);
        if (n == settings.atInterface) {
            atTty = "/dev/" + tty;
            atPty = pty.get();
        }
        ttys.push_back(std::move(pty));
    }
    add(sysPath, record(sysPath, bus, address, speed, descriptors));
    if (!umockdev_in_mock_environment()) {
        for (auto it = children.rbegin(); it != children.rend(); ++it)
            umockdev_testbed_uevent(m_testbed, ("/sys" + *it).c_str(), "add");
    }
    std::unique_ptr<modemdevice::AtTtyPump> pump;
    if (atPty) {
        EmulatedUsbDevice* plugged = device.get();
        pump = std::make_unique<modemdevice::AtTtyPump>(*atPty, model, [onLeave, plugged] { onLeave(plugged); });
    }
    m_plugged[location] = Plugged{sysPath, node, std::move(device), std::move(children), atTty,
                                  std::move(ttys), std::move(pump)};
    ++m_arrivals[location];
    return address;
}

void UsbTestbed::moduleLeft(const std::string& location, const std::string& back, modemdevice::ModuleModel& model,
                            EmulatedUsbDevice* plugged)
{
    // Not on umockdev's thread nor the pump's: the return unplugs them.
    std::lock_guard lock(m_mutex);
    if (m_closing)
        return;
    m_returns.emplace_back([this, location, back, &model, plugged] {
        {
            std::lock_guard hands(m_handsMutex);
            if (device(location) == plugged)
                unplug(location);
        }
        // The module restarts in its new mode.
        const auto away = std::chrono::steady_clock::now() + std::chrono::milliseconds(model.settings().rebootMillis);
        while (std::chrono::steady_clock::now() < away) {
            if (m_closing)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        std::lock_guard hands(m_handsMutex);
        {
            std::lock_guard lock(m_mutex);
            if (m_closing || m_pulled[back] || m_plugged.count(back))
                return;
        }
        plugModule(back, model, back);
    });
}

std::string UsbTestbed::atTty(const std::string& location)
{
    std::lock_guard lock(m_mutex);
    const auto it = m_plugged.find(location);
    return it == m_plugged.end() ? std::string() : it->second.atTty;
}

void UsbTestbed::plugAsIs(const std::string& location, fbdevice::DeviceModel& model)
{
    if (model.inSystem()) {
        plug(location, nullptr, kSystemIds);
        std::lock_guard lock(m_mutex);
        m_models[location] = &model;
    } else {
        plugModel(location, model, location);
    }
}

void UsbTestbed::pull(const std::string& location)
{
    std::lock_guard hands(m_handsMutex);
    modemdevice::ModuleModel* module = nullptr;
    {
        std::lock_guard lock(m_mutex);
        m_pulled[location] = true;
        module = m_modules[location];
    }
    unplug(location);
    if (module)
        module->powerCycled();
}

void UsbTestbed::putBack(const std::string& location)
{
    std::lock_guard hands(m_handsMutex);
    fbdevice::DeviceModel* model = nullptr;
    modemdevice::ModuleModel* module = nullptr;
    {
        std::lock_guard lock(m_mutex);
        m_pulled[location] = false;
        if (m_plugged.count(location))
            return;
        model = m_models[location];
        module = m_modules[location];
    }
    if (model)
        plugAsIs(location, *model);
    else if (module)
        plugModule(location, *module, location);
}

void UsbTestbed::bootToBootloader(const std::string& location)
{
    std::lock_guard hands(m_handsMutex);
    fbdevice::DeviceModel* model = nullptr;
    bool plugged = false;
    {
        std::lock_guard lock(m_mutex);
        model = m_models[location];
        plugged = m_plugged.count(location) != 0;
    }
    if (!model || model->present())
        return;
    model->bootToBootloader();
    if (plugged) {
        unplug(location);
        plugModel(location, *model, location);
    }
}

std::string UsbTestbed::nodeFile(const std::string& location)
{
    std::lock_guard lock(m_mutex);
    const auto it = m_plugged.find(location);
    if (it == m_plugged.end())
        return {};
    gchar* root = umockdev_testbed_get_root_dir(m_testbed);
    const std::string path = std::string(root) + it->second.node;
    g_free(root);
    return path;
}

int UsbTestbed::arrivals(const std::string& location)
{
    std::lock_guard lock(m_mutex);
    return m_arrivals[location];
}

void UsbTestbed::unplug(const std::string& location)
{
    // A module's tty goes quiet first (its pump may be waiting for this
    // lock), then hangs up for whoever holds it open.
    std::unique_ptr<modemdevice::AtTtyPump> pump;
    std::vector<std::unique_ptr<modemdevice::ModulePty>> ttys;
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_plugged.find(location);
        if (it != m_plugged.end()) {
            pump = std::move(it->second.pump);
            ttys = std::move(it->second.ttys);
        }
    }
    pump.reset();
    ttys.clear();
    std::lock_guard lock(m_mutex);
    const auto it = m_plugged.find(location);
    if (it == m_plugged.end())
        return;
    it->second.device->unplug();
    // Older umockdev removes a device without telling udev. Each child goes
    // by itself, or its class and bus links would stay behind.
    for (const std::string& child : it->second.children) {
        umockdev_testbed_uevent(m_testbed, ("/sys" + child).c_str(), "remove");
        umockdev_testbed_remove_device(m_testbed, ("/sys" + child).c_str());
    }
    umockdev_testbed_uevent(m_testbed, ("/sys" + it->second.sysPath).c_str(), "remove");
    umockdev_testbed_remove_device(m_testbed, ("/sys" + it->second.sysPath).c_str());
    // An engine may still hold the node open; the handler stays until the end.
    m_retired.push_back(std::move(it->second.device));
    m_plugged.erase(it);
}

EmulatedUsbDevice* UsbTestbed::device(const std::string& location)
{
    std::lock_guard lock(m_mutex);
    const auto it = m_plugged.find(location);
    return it == m_plugged.end() ? nullptr : it->second.device.get();
}

#include "UsbBus.h"

#include <libusb.h>

#include <algorithm>
#include <tuple>

namespace usb {

namespace {

constexpr auto kScanPeriod = std::chrono::seconds(1);
constexpr auto kWaitStep = std::chrono::milliseconds(200);

int hotPlugCallback(libusb_context*, libusb_device*, libusb_hotplug_event, void* bus)
{
    // Only a note: no libusb call that could wait is allowed in here.
    static_cast<UsbBus*>(bus)->poke();
    return 0;
}

std::optional<UsbLocation> locationOf(libusb_device* device)
{
    uint8_t ports[8];
    const int n = libusb_get_port_numbers(device, ports, sizeof ports);
    if (n <= 0)
        return std::nullopt; // a root hub
    return UsbLocation(libusb_get_bus_number(device), std::vector<int>(ports, ports + n));
}

// Finds the wanted interface and its two bulk endpoints.
bool findInterface(const libusb_config_descriptor* config, const UsbInterfaceClass& wanted, UsbDeviceInfo* info)
{
    for (int i = 0; i < config->bNumInterfaces; ++i) {
        const libusb_interface& interface = config->interface[i];
        for (int a = 0; a < interface.num_altsetting; ++a) {
            const libusb_interface_descriptor& alt = interface.altsetting[a];
            if (alt.bInterfaceClass != wanted.classCode || alt.bInterfaceSubClass != wanted.subclass
                || alt.bInterfaceProtocol != wanted.protocol)
                continue;
            uint8_t in = 0;
            uint8_t out = 0;
            for (int e = 0; e < alt.bNumEndpoints; ++e) {
                const libusb_endpoint_descriptor& ep = alt.endpoint[e];
                if ((ep.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) != LIBUSB_TRANSFER_TYPE_BULK)
                    continue;
                uint8_t& slot = (ep.bEndpointAddress & LIBUSB_ENDPOINT_IN) ? in : out;
                if (slot == 0)
                    slot = ep.bEndpointAddress;
            }
            if (in != 0 && out != 0) {
                info->interface = alt.bInterfaceNumber;
                info->endpointIn = in;
                info->endpointOut = out;
                return true;
            }
        }
    }
    return false;
}

bool sameDevices(const std::vector<UsbDeviceInfo>& a, const std::vector<UsbDeviceInfo>& b)
{
    const auto key = [](const UsbDeviceInfo& d) { return std::tie(d.socket, d.bootRom, d.hasInterface, d.address); };
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [&](const UsbDeviceInfo& x, const UsbDeviceInfo& y) { return key(x) == key(y); });
}

} // namespace

UsbBus::UsbBus(UsbInterfaceClass wanted, std::string sysfsRoot, bool hotPlug)
    : m_wanted(wanted)
    , m_sysfsRoot(std::move(sysfsRoot))
    , m_wantHotPlug(hotPlug)
{
}

UsbBus::~UsbBus()
{
    stop();
}

bool UsbBus::start(std::function<void()> onChange, std::string* error)
{
    if (m_context)
        return true;
    const int rc = libusb_init(&m_context);
    if (rc != 0) {
        m_context = nullptr;
        if (error)
            *error = std::string("USB is not available: ") + libusb_strerror(rc);
        return false;
    }
    m_onChange = std::move(onChange);
    m_stopping = false;
    if (m_wantHotPlug && libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG)) {
        m_hotPlug = libusb_hotplug_register_callback(
                        m_context,
                        static_cast<libusb_hotplug_event>(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED
                                                          | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT),
                        static_cast<libusb_hotplug_flag>(0), LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY,
                        LIBUSB_HOTPLUG_MATCH_ANY, &hotPlugCallback, this, &m_hotPlugHandle)
            == LIBUSB_SUCCESS;
    }
    std::vector<UsbDeviceInfo> first = scan();
    {
        std::lock_guard lock(m_mutex);
        m_devices = std::move(first);
    }
    m_events = std::thread(&UsbBus::runEvents, this);
    m_watch = std::thread(&UsbBus::runWatch, this);
    return true;
}

void UsbBus::stop()
{
    if (!m_context)
        return;
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_changed.notify_all();
    }
    libusb_interrupt_event_handler(m_context);
    if (m_watch.joinable())
        m_watch.join();
    if (m_events.joinable())
        m_events.join();
    if (m_hotPlug)
        libusb_hotplug_deregister_callback(m_context, m_hotPlugHandle);
    libusb_exit(m_context);
    m_context = nullptr;
    m_hotPlug = false;
}

void UsbBus::setBootRomIds(std::vector<UsbId> ids)
{
    std::lock_guard lock(m_mutex);
    m_bootRomIds = std::move(ids);
    ++m_generation;
    m_changed.notify_all();
}

void UsbBus::poke()
{
    std::lock_guard lock(m_mutex);
    ++m_generation;
    m_changed.notify_all();
}

void UsbBus::markLeaving(const UsbLocation& socket, int address)
{
    std::lock_guard lock(m_mutex);
    m_leaving[socket] = address;
}

int UsbBus::leavingAddress(const UsbLocation& socket) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_leaving.find(socket);
    return it == m_leaving.end() ? 0 : it->second;
}

std::vector<UsbDeviceInfo> UsbBus::devices() const
{
    std::lock_guard lock(m_mutex);
    return m_devices;
}

std::optional<UsbDeviceInfo> UsbBus::find(const UsbLocation& socket) const
{
    for (const UsbDeviceInfo& device : scan()) {
        if (device.socket == socket)
            return device;
    }
    return std::nullopt;
}

std::optional<UsbDeviceInfo> UsbBus::waitFor(const UsbLocation& socket, Clock::time_point deadline,
                                             const std::function<bool(const UsbDeviceInfo&)>& accept) const
{
    for (;;) {
        unsigned seen = 0;
        {
            std::lock_guard lock(m_mutex);
            seen = m_generation;
        }
        const auto device = find(socket);
        if (device && accept(*device))
            return device;
        std::unique_lock lock(m_mutex);
        if (m_stopping || Clock::now() >= deadline)
            return std::nullopt;
        m_changed.wait_until(lock, std::min(deadline, Clock::now() + kWaitStep),
                             [&] { return m_stopping || m_generation != seen; });
    }
}

std::optional<UsbDeviceInfo> UsbBus::classify(libusb_device* device, const UsbInterfaceClass& wanted,
                                              const std::vector<UsbId>& bootRomIds, const std::string& sysfsRoot)
{
    libusb_device_descriptor descriptor{};
    if (libusb_get_device_descriptor(device, &descriptor) != 0 || descriptor.bDeviceClass == LIBUSB_CLASS_HUB)
        return std::nullopt;
    const auto location = locationOf(device);
    if (!location)
        return std::nullopt;
    UsbDeviceInfo info;
    info.location = *location;
    info.socket = location->socket(sysfsRoot);
    info.id = UsbId{descriptor.idVendor, descriptor.idProduct};
    info.address = libusb_get_device_address(device);
    info.bootRom = std::find(bootRomIds.begin(), bootRomIds.end(), info.id) != bootRomIds.end();
    if (info.bootRom)
        return info;
    // Descriptors come from the kernel's copy: no request goes to the device.
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_active_config_descriptor(device, &config) != 0
        && libusb_get_config_descriptor(device, 0, &config) != 0)
        return info; // something is there, whatever it is
    info.hasInterface = findInterface(config, wanted, &info);
    libusb_free_config_descriptor(config);
    return info;
}

std::vector<UsbDeviceInfo> UsbBus::scan() const
{
    std::vector<UsbId> bootRomIds;
    {
        std::lock_guard lock(m_mutex);
        bootRomIds = m_bootRomIds;
    }
    std::vector<UsbDeviceInfo> found;
    libusb_device** list = nullptr;
    const ssize_t n = libusb_get_device_list(m_context, &list);
    for (ssize_t i = 0; i < n; ++i) {
        if (auto info = classify(list[i], m_wanted, bootRomIds, m_sysfsRoot))
            found.push_back(std::move(*info));
    }
    if (n >= 0)
        libusb_free_device_list(list, 1);
    {
        std::lock_guard lock(m_mutex);
        std::erase_if(m_leaving, [&](const auto& entry) {
            return std::none_of(found.begin(), found.end(), [&](const UsbDeviceInfo& d) {
                return d.socket == entry.first && d.address == entry.second;
            });
        });
    }
    std::sort(found.begin(), found.end(),
              [](const UsbDeviceInfo& a, const UsbDeviceInfo& b) { return a.socket < b.socket; });
    return found;
}

void UsbBus::runEvents()
{
    while (!m_stopping) {
        timeval timeout{0, 500 * 1000};
        libusb_handle_events_timeout_completed(m_context, &timeout, nullptr);
    }
}

void UsbBus::runWatch()
{
    unsigned seen = 0;
    for (;;) {
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait_for(lock, kScanPeriod, [&] { return m_stopping || m_generation != seen; });
            if (m_stopping)
                return;
            seen = m_generation;
        }
        std::vector<UsbDeviceInfo> now = scan();
        bool changed = false;
        {
            std::lock_guard lock(m_mutex);
            if (m_stopping)
                return;
            changed = !sameDevices(now, m_devices);
            if (changed)
                m_devices = std::move(now);
        }
        if (changed && m_onChange)
            m_onChange();
    }
}

} // namespace usb

#include "DemoDevices.h"

namespace {

DemoDevices::Device fastboot(const std::string& socket, const std::string& display, const std::string& internal,
                             const std::string& imei, int delayMsPerMiB)
{
    DemoDevices::Device d;
    d.socket = socket;
    d.settings.display = display;
    d.settings.internal = internal;
    d.settings.imei = imei;
    d.settings.delayMsPerMiB = delayMsPerMiB;
    return d;
}

DemoDevices::Device bootRom(const std::string& socket)
{
    DemoDevices::Device d;
    d.socket = socket;
    d.bootRom = true;
    return d;
}

} // namespace

std::vector<DemoDevices::Device> DemoDevices::plan(const std::string& folder)
{
    std::vector<Device> devices = {
        fastboot("1-1.1", "ABC_DE_V1.0", "ABC_DE_INT_V1.0", "356938035643809", 60),
        fastboot("1-1.2", "ABC_DE_V1.1", "ABC_DE_INT_V1.1", "356938035643817", 80),
        fastboot("1-1.3", "XYZ_V3.0", "XYZ_INT_V3.0", "356938035643825", 0),
        bootRom("1-1.4"),
        fastboot("1-1.5", "ABC_DE_V1.2", "ABC_DE_INT_V1.2", "356938035643841", 50),
    };
    devices[1].settings.maxDownload = 16 * 1024 * 1024; // system goes in sparse pieces
    devices[4].settings.failPartition = "system";
    for (size_t i = 0; i < devices.size(); ++i)
        devices[i].settings.storageDir = folder + "/device-" + std::to_string(i + 1);
    return devices;
}

DemoDevices::DemoDevices(const std::string& folder)
    : m_devices(plan(folder))
    , m_bed(std::make_unique<UsbTestbed>())
{
    for (const Device& d : m_devices) {
        if (d.bootRom) {
            // A common SoC boot ROM's download mode: no fastboot interface.
            m_bed->plug(d.socket, nullptr, {0x05c6, 0x9008, false});
            continue;
        }
        auto& model = *m_models.emplace_back(std::make_unique<fbdevice::DeviceModel>(d.settings));
        m_bed->plugModel(d.socket, model);
    }
}

std::string DemoDevices::handle(const std::string& verb, int n)
{
    if (n < 1 || size_t(n) > m_devices.size())
        return "no device " + std::to_string(n);
    const std::string& socket = m_devices[size_t(n - 1)].socket;
    if (verb == "pull")
        m_bed->pull(socket);
    else if (verb == "plug")
        m_bed->putBack(socket);
    else
        m_bed->bootToBootloader(socket);
    return "device " + std::to_string(n) + " (socket " + socket + "): " + verb;
}

DemoDevices::~DemoDevices()
{
    m_bed.reset(); // the bus before the models it drives
}

// The emulated USB tree itself, seen through plain libusb.
#include "UsbTestbed.h"

#include <libusb.h>

#include <gtest/gtest.h>

#include <deque>

namespace {

class EchoDevice final : public PacketDevice
{
public:
    void receive(std::string_view packet) override { m_replies.emplace_back("ECHO" + std::string(packet)); }
    std::optional<std::string> nextReply() override
    {
        if (m_replies.empty())
            return std::nullopt;
        std::string r = m_replies.front();
        m_replies.pop_front();
        return r;
    }

private:
    std::deque<std::string> m_replies;
};

std::string locationOf(libusb_device* device)
{
    uint8_t ports[8];
    const int n = libusb_get_port_numbers(device, ports, 8);
    std::string text = std::to_string(libusb_get_bus_number(device));
    for (int i = 0; i < n; ++i)
        text += (i == 0 ? "-" : ".") + std::to_string(ports[i]);
    return text;
}

} // namespace

TEST(UsbTestbed, DevicesAppearAtTheirPortsAndAnswerBulkTransfers)
{
    std::string why;
    if (!UsbTestbed::available(&why))
        GTEST_SKIP() << why;
    UsbTestbed bed;
    bed.plug("1-1.3", std::make_shared<EchoDevice>());
    libusb_context* ctx = nullptr;
    ASSERT_EQ(libusb_init(&ctx), 0);
    libusb_device** list = nullptr;
    const ssize_t n = libusb_get_device_list(ctx, &list);
    libusb_device* found = nullptr;
    for (ssize_t i = 0; i < n; ++i) {
        if (locationOf(list[i]) == "1-1.3")
            found = list[i];
    }
    ASSERT_NE(found, nullptr) << n;
    libusb_device_handle* handle = nullptr;
    ASSERT_EQ(libusb_open(found, &handle), 0);
    ASSERT_EQ(libusb_claim_interface(handle, 0), 0);
    int done = 0;
    char out[] = "getvar:product";
    ASSERT_EQ(libusb_bulk_transfer(handle, 0x01, reinterpret_cast<unsigned char*>(out), 14, &done, 1000), 0);
    EXPECT_EQ(done, 14);
    unsigned char in[256];
    ASSERT_EQ(libusb_bulk_transfer(handle, 0x81, in, sizeof in, &done, 1000), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(in), done), "ECHOgetvar:product");
    // Nothing to say: the transfer times out.
    EXPECT_EQ(libusb_bulk_transfer(handle, 0x81, in, sizeof in, &done, 100), LIBUSB_ERROR_TIMEOUT);
    libusb_release_interface(handle, 0);
    libusb_close(handle);
    libusb_free_device_list(list, 1);
    libusb_exit(ctx);
}

// ---- UsbBus on the emulated tree ----

#include "FastbootUsb.h"
#include "UsbBus.h"
#include "UsbTestbedFixture.h"

#include <atomic>
#include <chrono>
#include <thread>

using usb::UsbBus;
using usb::UsbDeviceInfo;
using usb::UsbLocation;

namespace {

UsbLocation at(const char* text)
{
    return *UsbLocation::parse(text);
}

// Waits for a condition with a deadline, checking every few milliseconds.
template <typename F>
bool eventually(F condition, std::chrono::milliseconds limit = std::chrono::seconds(10))
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

class UsbBusTest : public UsbTestbedFixture
{
protected:
    void TearDown() override
    {
        m_bus.reset(); // before the testbed: the bus holds its nodes
        m_bed.reset();
    }
    void startBus(bool hotPlug = true)
    {
        // The emulated devices offer the fastboot interface.
        m_bus = std::make_unique<UsbBus>(fastboot::kFastbootInterface, m_bed->rootDir(), hotPlug);
        m_bus->setBootRomIds(*usb::parseUsbIds(fastboot::kDefaultBootRomIds));
        std::string error;
        ASSERT_TRUE(m_bus->start([this] { ++m_changes; }, &error)) << error;
    }
    std::optional<UsbDeviceInfo> listed(const char* socket) const
    {
        for (const auto& d : m_bus->devices()) {
            if (d.socket == at(socket))
                return d;
        }
        return std::nullopt;
    }

    std::unique_ptr<UsbBus> m_bus;
    std::atomic<int> m_changes{0};
};

} // namespace

TEST_F(UsbBusTest, FindsEveryDeviceBySocketAndTellsWhatItIs)
{
    m_bed->plug("1-1.2", nullptr);
    m_bed->plug("1-1.3", nullptr);
    m_bed->plug("1-1.5", nullptr, {0x05c6, 0x9008, false}); // a boot ROM from the default list
    m_bed->plug("1-1.6", nullptr, {0x1234, 0x5678, false}); // something else: there, no fastboot
    m_bed->plug("2-1.4", nullptr);                          // SuperSpeed, socket 1-1.4
    startBus();
    const auto devices = m_bus->devices();
    ASSERT_EQ(devices.size(), 5u);
    EXPECT_EQ(devices[0].socket, at("1-1.2"));
    EXPECT_EQ(devices[1].socket, at("1-1.3"));
    EXPECT_EQ(devices[1].interface, 0);
    EXPECT_EQ(devices[1].endpointIn, 0x81);
    EXPECT_EQ(devices[1].endpointOut, 0x01);
    EXPECT_FALSE(devices[1].bootRom);
    EXPECT_EQ(devices[2].socket, at("1-1.4"));
    EXPECT_EQ(devices[2].location, at("2-1.4"));
    EXPECT_TRUE(devices[1].hasInterface);
    EXPECT_EQ(devices[3].socket, at("1-1.5"));
    EXPECT_TRUE(devices[3].bootRom);
    EXPECT_FALSE(devices[3].hasInterface);
    EXPECT_EQ(devices[4].socket, at("1-1.6"));
    EXPECT_FALSE(devices[4].bootRom);
    EXPECT_FALSE(devices[4].hasInterface);

    // The list is the station's to change: then it is just some device.
    m_bus->setBootRomIds({});
    EXPECT_TRUE(eventually([&] { return !listed("1-1.5")->bootRom; }));
    EXPECT_EQ(m_bus->devices().size(), 5u);
}

TEST_F(UsbBusTest, ReportsArrivalAndRemoval)
{
    // With libusb's hot-plug callbacks, and by the scan every second alone.
    for (const bool hotPlug : {true, false}) {
        startBus(hotPlug);
        EXPECT_EQ(m_bus->hotPlug(), hotPlug);
        EXPECT_TRUE(m_bus->devices().empty());
        const int first = m_changes;
        m_bed->plug("1-1.3", nullptr);
        ASSERT_TRUE(eventually([&] { return listed("1-1.3").has_value(); })) << hotPlug;
        EXPECT_GT(m_changes.load(), first);
        const int before = m_changes;
        m_bed->unplug("1-1.3");
        ASSERT_TRUE(eventually([&] { return !listed("1-1.3"); })) << hotPlug;
        EXPECT_GT(m_changes.load(), before);
        m_bus.reset();
    }
}

TEST_F(UsbBusTest, WaitsForADeviceToComeBackInItsSocket)
{
    const int first = m_bed->plug("1-1.3", nullptr);
    startBus();
    std::optional<UsbDeviceInfo> back;
    std::thread waiter([&] {
        back = m_bus->waitFor(at("1-1.3"), std::chrono::steady_clock::now() + std::chrono::seconds(10),
                              [&](const UsbDeviceInfo& d) { return d.address != first; });
    });
    m_bed->unplug("1-1.3");
    m_bed->plug("1-1.6", nullptr); // another socket: not it
    const int second = m_bed->plug("1-1.3", nullptr);
    waiter.join();
    ASSERT_TRUE(back);
    EXPECT_EQ(back->address, second);

    // Nobody comes back: the wait ends at its deadline.
    m_bed->unplug("1-1.3");
    EXPECT_FALSE(m_bus->waitFor(at("1-1.3"), std::chrono::steady_clock::now() + std::chrono::milliseconds(300),
                                [](const UsbDeviceInfo&) { return true; }));
}

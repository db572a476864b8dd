// The built fastboot engine library on emulated USB devices: sockets and
// their port numbers, boot ROMs, learning, re-enumeration, unplugging,
// permissions and a busy interface.
#include "UsbTestbed.h"
#include "UsbTestbedFixture.h"
#include "UsbTransport.h"
#include "engine/EngineChecks.h"
#include "engine/FastbootStation.h"

#include "FastbootResults.h"
#include "FlashEngine.h"

#include <QFile>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <thread>

#include <array>

#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

using EngineChecks::readFile;
using EngineChecks::hasMessage;
using EngineChecks::enumerate;

// While it lives, the calling thread may not open the device node: the node
// loses its permission bits, and the thread the capabilities that let root
// ignore them (capabilities belong to each thread; the rest of the process
// keeps them, and the thread gets them back).
class NoPermission final
{
public:
    explicit NoPermission(std::string node)
        : m_node(std::move(node))
    {
        ::chmod(m_node.c_str(), 0);
        if (capabilities(&m_saved)) {
            CapabilityData data = m_saved;
            data[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
            m_dropped = setCapabilities(data);
        }
    }
    ~NoPermission()
    {
        if (m_dropped)
            setCapabilities(m_saved);
        ::chmod(m_node.c_str(), 0644);
    }

private:
    using CapabilityData = std::array<__user_cap_data_struct, 2>;
    static bool capabilities(CapabilityData* data)
    {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        return ::syscall(SYS_capget, &header, data->data()) == 0;
    }
    static bool setCapabilities(CapabilityData data)
    {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        return ::syscall(SYS_capset, &header, data.data()) == 0;
    }

    std::string m_node;
    CapabilityData m_saved{};
    bool m_dropped = false;
};

class UsbEngineTest : public UsbTestbedFixture
{
protected:
    void SetUp() override
    {
        UsbTestbedFixture::SetUp();
        if (IsSkipped())
            return;
        m_station = std::make_unique<FastbootStation>();
        m_package = m_station->makePackage(QStringLiteral("pkg"), "ABC_V2.0", "ABC_INT_V2.0");
        m_station->setPackage(m_package);
    }
    void TearDown() override
    {
        m_station.reset(); // the engine first: it holds device nodes of the testbed
        m_bed.reset();
        m_models.clear();
    }
    fbdevice::DeviceModel& model(int port)
    {
        return *m_models.emplace_back(std::make_unique<fbdevice::DeviceModel>(m_station->deviceSettings(port)));
    }
    fbdevice::DeviceModel& model(const fbdevice::DeviceSettings& settings)
    {
        return *m_models.emplace_back(std::make_unique<fbdevice::DeviceModel>(settings));
    }
    // Writes the engine's keys and plugs device 1 into socket 1-1.1.
    fbdevice::DeviceModel& plugOne(const QByteArray& keys)
    {
        m_station->writeConfig(keys);
        fbdevice::DeviceModel& device = model(1);
        m_bed->plugModel("1-1.1", device);
        return device;
    }
    QByteArray config() const { return readFile(m_station->stationDir().toStdString() + "config.ini"); }
    // The partition equals the image, up to the zeros that fill its last block.
    void expectFlashed(const fbdevice::DeviceModel& device, const char* partition, const char* image)
    {
        const QByteArray want = readFile(m_station->packageFile(QString::fromLatin1(image)).toStdString());
        const QByteArray have = readFile(device.partitionPath(partition));
        ASSERT_GE(have.size(), want.size()) << partition;
        EXPECT_TRUE(have.startsWith(want)) << partition;
        EXPECT_EQ(have.mid(want.size()), QByteArray(have.size() - want.size(), '\0')) << partition;
    }

    std::deque<std::unique_ptr<fbdevice::DeviceModel>> m_models; // outlive the testbed's devices
    std::unique_ptr<FastbootStation> m_station;
    QString m_package;
};

} // namespace

TEST_F(UsbEngineTest, PortNumbersFollowSocketsAndNewSocketsAreLearned)
{
    m_station->writeConfig("PORT.1=usb:1-1.1\r\nPORT.2=usb:1-1.2\r\n"
                           "PORT.3=usb:2-1.3\r\n"           // its SuperSpeed name: the same socket
                           "PORT.4=tcp:127.0.0.1:9\r\n"     // taken, though nothing answers there
                           "; the station's own comment\r\n");
    m_bed->plugModel("1-1.1", model(1));
    m_bed->plugModel("2-1.2", model(2));                     // at SuperSpeed: socket 1-1.2
    m_bed->plugModel("1-1.3", model(3));
    m_bed->plug("1-1.5", nullptr, {0x05c6, 0x9008, false}); // a boot ROM
    m_bed->plugModel("1-1.6", model(6));                     // a socket no PORT names
    ASSERT_TRUE(m_station->load());

    // Learned at once, lowest free numbers first, written into config.ini.
    ASSERT_TRUE(QTest::qWaitFor([&] { return config().contains("PORT.6=usb:1-1.6"); }, 10000)) << config().data();
    EXPECT_TRUE(config().contains("PORT.5=usb:1-1.5"));
    EXPECT_TRUE(config().contains("PORT.3=usb:2-1.3"));
    EXPECT_TRUE(config().contains("; the station's own comment"));

    EXPECT_TRUE(m_station->waitQuery(1, 0, "ABC_V1.0,ABC_INT_V1.0,356938035643801"));
    EXPECT_TRUE(m_station->waitQuery(2, 0, "ABC_V1.0,ABC_INT_V1.0,356938035643802"));
    EXPECT_TRUE(m_station->waitQuery(3, 0, "ABC_V1.0,ABC_INT_V1.0,356938035643803"));
    EXPECT_TRUE(m_station->waitQuery(5, 1)); // present, not ready: ARM mode
    EXPECT_TRUE(m_station->waitQuery(6, 0, "ABC_V1.0,ABC_INT_V1.0,356938035643806"));
    EXPECT_EQ(m_station->query(7), -1);
    EXPECT_EQ(enumerate(m_station->engine()), (std::vector<int32_t>{1, 2, 3, 5, 6}));

    // Hot plug: the next socket gets the next free number and the tool hears of it.
    const int events = m_station->handler.count('D');
    m_bed->plugModel("1-1.7", model(7));
    ASSERT_TRUE(QTest::qWaitFor([&] { return config().contains("PORT.7=usb:1-1.7"); }, 10000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return m_station->handler.count('D') > events; }, 10000));
    EXPECT_TRUE(m_station->waitQuery(7, 0));
    // And pulled out again.
    const int more = m_station->handler.count('D');
    m_bed->unplug("2-1.2");
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_station->handler.count('D') > more; }, 10000));
    EXPECT_TRUE(m_station->waitQuery(2, -1));
}

TEST_F(UsbEngineTest, NoLearningWhenSwitchedOff)
{
    m_station->writeConfig("LEARN_PORTS=0\r\nBOOTROM_IDS=1234:5678\r\nPORT.1=usb:1-1.1\r\n");
    m_bed->plug("1-1.1", nullptr, {0x1234, 0x5678, false});
    m_bed->plugModel("1-1.2", model(2));
    ASSERT_TRUE(m_station->load());
    EXPECT_TRUE(m_station->waitQuery(1, 1)); // the configured boot ROM
    EXPECT_EQ(enumerate(m_station->engine()), (std::vector<int32_t>{1}));
    EXPECT_FALSE(config().contains("PORT.2"));
}

TEST_F(UsbEngineTest, DownloadFollowsTheDeviceThroughItsReboot)
{
    fbdevice::DeviceModel& device = plugOne("PORT.1=usb:1-1.1\r\nREADBACK=1\r\nARRIVAL_TIMEOUT_S=20\r\n");
    ASSERT_TRUE(m_station->load());
    ASSERT_TRUE(m_station->download(0, 1));
    EXPECT_EQ(m_station->resultOf(0), FASTBOOT_RESULT_SUCCESS) << m_station->lastMessage(0);
    EXPECT_TRUE(hasMessage(m_station->handler, 0, "Waiting for the device to come back"));
    EXPECT_GE(m_bed->arrivals("1-1.1"), 2); // a new enumeration, a new address
    expectFlashed(device, "system", "system.img");
    expectFlashed(device, "boot", "boot.img");
}

TEST_F(UsbEngineTest, SparsePiecesGoByteForByteInTransfersTheKernelTakes)
{
    m_package = m_station->makePackage(QStringLiteral("big"), "ABC_V2.0", "ABC_INT_V2.0", 3 * 1024 * 1024 + 100);
    m_station->setPackage(m_package);
    m_station->writeConfig("PORT.1=usb:1-1.1\r\nREBOOT=0\r\n");
    fbdevice::DeviceSettings settings = m_station->deviceSettings(1);
    settings.maxDownload = 1024 * 1024; // system.img in sparse pieces
    fbdevice::DeviceModel& device = model(settings);
    m_bed->plugModel("1-1.1", device);
    // usbfs out of memory: only transfers of up to 100 kB are taken.
    m_bed->device("1-1.1")->setUrbLimit(100 * 1000);
    ASSERT_TRUE(m_station->load());
    ASSERT_TRUE(m_station->download(0, 1));
    EXPECT_EQ(m_station->resultOf(0), FASTBOOT_RESULT_SUCCESS) << m_station->lastMessage(0);
    expectFlashed(device, "system", "system.img");
    expectFlashed(device, "boot", "boot.img");
    EXPECT_GE(device.flashCount("system"), 3);
    EXPECT_LE(m_bed->device("1-1.1")->largestUrb(), 100 * 1000);
    EXPECT_GE(m_bed->device("1-1.1")->largestUrb(), 16 * 1024);
}

TEST_F(UsbEngineTest, DeviceBackAtTheOtherSpeedIsInTheSameSocket)
{
    m_station->writeConfig("PORT.1=usb:1-1.1\r\nREADBACK=1\r\nARRIVAL_TIMEOUT_S=20\r\nREBOOT=0\r\n");
    fbdevice::DeviceModel& device = model(1);
    m_bed->plugModel("1-1.1", device, "2-1.1"); // comes back on the SuperSpeed bus
    ASSERT_TRUE(m_station->load());
    ASSERT_TRUE(m_station->download(0, 1));
    EXPECT_EQ(m_station->resultOf(0), FASTBOOT_RESULT_SUCCESS) << m_station->lastMessage(0);
    EXPECT_EQ(m_bed->arrivals("2-1.1"), 1);
    EXPECT_TRUE(m_station->waitQuery(1, 0));
}

TEST_F(UsbEngineTest, DeviceBackInAnotherSocketIsNotTakenForIt)
{
    m_station->writeConfig("PORT.1=usb:1-1.1\r\nREADBACK=1\r\nARRIVAL_TIMEOUT_S=2\r\nLEARN_PORTS=0\r\n");
    m_bed->plugModel("1-1.1", model(1), "1-1.4");
    ASSERT_TRUE(m_station->load());
    ASSERT_TRUE(m_station->download(0, 1));
    EXPECT_EQ(m_station->resultOf(0), FASTBOOT_RESULT_NO_DEVICE);
    EXPECT_NE(m_station->lastMessage(0).find("did not come back"), std::string::npos) << m_station->lastMessage(0);
    EXPECT_EQ(m_bed->arrivals("1-1.4"), 1);
}

TEST_F(UsbEngineTest, UnpluggedDeviceFailsItsLineAndTheOtherGoesOn)
{
    m_package = m_station->makePackage(QStringLiteral("big"), "ABC_V2.0", "ABC_INT_V2.0", 6 * 1024 * 1024);
    m_station->setPackage(m_package);
    m_station->writeConfig("PORT.1=usb:1-1.1\r\nPORT.2=usb:1-1.2\r\n");
    fbdevice::DeviceSettings slow = m_station->deviceSettings(1);
    slow.delayMsPerMiB = 100;
    slow.maxDownload = 1024 * 1024;
    m_bed->plugModel("1-1.1", model(slow));
    fbdevice::DeviceModel& other = model(2);
    m_bed->plugModel("1-1.2", other);
    ASSERT_TRUE(m_station->load());

    std::thread second([&] { m_station->engine()->Download(1, 2); });
    std::thread first([&] { m_station->engine()->Download(0, 1); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_bed->device("1-1.1")->bytesReceived() > 100000; }, 20000));
    m_bed->unplug("1-1.1");
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_station->handler.count('R') == 2; }, 60000));
    first.join();
    second.join();
    EXPECT_EQ(m_station->resultOf(0), FASTBOOT_RESULT_CONNECTION_LOST) << m_station->lastMessage(0);
    EXPECT_EQ(m_station->resultOf(1), FASTBOOT_RESULT_SUCCESS) << m_station->lastMessage(1);
    expectFlashed(other, "system", "system.img");
}

TEST_F(UsbEngineTest, NoPermissionNamesTheUdevRule)
{
    m_station->writeConfig("PORT.1=usb:1-1.1\r\n");
    m_bed->plugModel("1-1.1", model(1));
    {
        // The engine's threads start without the capabilities of this one.
        NoPermission denied(m_bed->nodeFile("1-1.1"));
        ASSERT_TRUE(m_station->load());
        EXPECT_TRUE(m_station->waitQuery(1, 2)); // there, but not ready
        EXPECT_NE(m_station->lastMessage(0).find("70-station-fastboot.rules"), std::string::npos)
            << m_station->lastMessage(0);
        // A download says so too. Run here: the denial belongs to this thread.
        m_station->engine()->Download(0, 1);
        EXPECT_EQ(m_station->resultOf(0), FASTBOOT_RESULT_NO_DEVICE);
        EXPECT_NE(m_station->lastMessage(0).find("70-station-fastboot.rules"), std::string::npos)
            << m_station->lastMessage(0);
    }
    // The rule installed: the monitor tries again and offers the device.
    EXPECT_TRUE(m_station->waitQuery(1, 0));
}

TEST_F(UsbEngineTest, TwoHostsNeverDriveOneDevice)
{
    m_station->writeConfig("PORT.1=usb:1-1.1\r\n");
    m_bed->plugModel("1-1.1", model(1));
    // Another host on the same machine has the interface first.
    fastboot::UsbBus other(fastboot::kFastbootInterface);
    std::string why;
    ASSERT_TRUE(other.start({}, &why)) << why;
    auto held = fastboot::UsbTransport::open(other, *fastboot::UsbLocation::parse("1-1.1"),
                                             fastboot::Clock::now() + std::chrono::seconds(5), &why);
    ASSERT_TRUE(held) << why;
    ASSERT_TRUE(m_station->load());
    EXPECT_TRUE(m_station->waitQuery(1, 2));
    EXPECT_NE(m_station->lastMessage(0).find("in use by another program"), std::string::npos);
    // Once it lets go, the device is the station's.
    held.reset();
    EXPECT_TRUE(m_station->waitQuery(1, 0));
}

TEST_F(UsbEngineTest, InterfaceHeldByAnotherProgramIsNotTouched)
{
    fbdevice::DeviceModel& device = plugOne("PORT.1=usb:1-1.1\r\n");
    m_bed->device("1-1.1")->setInterfaceBusy(true);
    ASSERT_TRUE(m_station->load());
    EXPECT_TRUE(m_station->waitQuery(1, 2));
    EXPECT_NE(m_station->lastMessage(0).find("in use by another program"), std::string::npos);
    ASSERT_TRUE(m_station->download(0, 1));
    EXPECT_NE(m_station->resultOf(0), FASTBOOT_RESULT_SUCCESS);
    EXPECT_NE(m_station->lastMessage(0).find("in use by another program"), std::string::npos)
        << m_station->lastMessage(0);
    EXPECT_EQ(device.flashCount("system"), 0);
}

TEST_F(UsbEngineTest, PassedUnitKeepsItsSocketWhileItBootsAndRunsItsSystem)
{
    for (const bool readBack : {false, true}) {
        SCOPED_TRACE(readBack ? "with read-back" : "without read-back");
        const std::string socket = readBack ? "1-1.2" : "1-1.1";
        const int port = readBack ? 2 : 1;
        const QByteArray keys = "PORT." + QByteArray::number(port) + "=usb:" + QByteArray::fromStdString(socket)
                                + "\r\nPORT.8=usb:1-1.7\r\nLEARN_PORTS=0\r\nARRIVAL_TIMEOUT_S=20\r\n"
                                + (readBack ? "READBACK=1\r\n" : "");
        m_station = std::make_unique<FastbootStation>();
        m_station->setPackage(m_station->makePackage(QStringLiteral("pkg"), "ABC_V2.0", "ABC_INT_V2.0"));
        m_station->writeConfig(keys + "REBOOT_HOLD_S=60\r\n");
        fbdevice::DeviceModel& unit = model(port);
        m_bed->plugModel(socket, unit);
        const int arrived = m_bed->arrivals(socket);
        ASSERT_TRUE(m_station->load());
        const std::string offered = "ABC_V1.0,ABC_INT_V1.0,35693803564380" + std::to_string(port);
        ASSERT_TRUE(m_station->waitQuery(port, 0, offered));
        const int opened = unit.sessions();
        ASSERT_TRUE(m_station->download(0, port));
        ASSERT_EQ(m_station->resultOf(0), FASTBOOT_RESULT_SUCCESS) << m_station->lastMessage(0);

        // In its system it is another USB device, without fastboot: the same
        // unit, as long as it is there.
        // The model runs its system before the testbed has swapped the
        // devices in the socket: wait for the system device itself (with
        // read-back the bootloader came back once before).
        const int returns = readBack ? 2 : 1;
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return unit.inSystem() && m_bed->arrivals(socket) == arrived + returns && m_bed->device(socket); },
            20000));
        std::string text;
        EXPECT_EQ(m_station->query(port, &text), 0);
        EXPECT_EQ(text, offered);
        // The scans never opened it: only the download did.
        const int afterDownload = unit.sessions();
        for (int scan = 0; scan < 100; ++scan)
            m_station->query(port);
        EXPECT_EQ(unit.sessions(), afterDownload);
        EXPECT_GT(afterDownload, opened);

        // A device in and out of port 8 marks whole rounds of the monitor.
        const auto wholeRound = [&] {
            m_bed->plug("1-1.7", nullptr, {0x05c6, 0x9008, false});
            EXPECT_TRUE(m_station->waitQuery(8, 1));
            m_bed->unplug("1-1.7");
            EXPECT_TRUE(m_station->waitQuery(8, -1));
        };
        wholeRound();
        // With the hold over, the device in the socket still holds it.
        m_station->writeConfig(keys + "REBOOT_HOLD_S=0\r\n");
        m_station->engine()->ReloadSettings();
        wholeRound();
        EXPECT_EQ(m_station->query(port, &text), 0);
        EXPECT_EQ(text, offered);
        // Pulled out: empty at once.
        m_bed->pull(socket);
        EXPECT_TRUE(m_station->waitQuery(port, -1));
        m_station.reset();
    }
}

TEST_F(UsbEngineTest, HoldEndsForAUnitThatNeverComesBackAndAnotherUnitIsNew)
{
    fbdevice::DeviceModel& unit = plugOne("PORT.1=usb:1-1.1\r\nREBOOT_HOLD_S=3\r\n");
    ASSERT_TRUE(m_station->load());
    ASSERT_TRUE(m_station->waitQuery(1, 0));
    // Pulled while it reboots: still its socket, gone once the hold is over.
    ASSERT_TRUE(m_station->download(0, 1));
    ASSERT_EQ(m_station->resultOf(0), FASTBOOT_RESULT_SUCCESS) << m_station->lastMessage(0);
    m_bed->pull("1-1.1");
    EXPECT_EQ(m_station->query(1), 0);
    EXPECT_TRUE(m_station->waitQuery(1, -1));
    m_bed->bootToBootloader("1-1.1");

    // Another unit in the socket during a hold: empty once, then offered.
    m_station->writeConfig("PORT.1=usb:1-1.1\r\nREBOOT_HOLD_S=60\r\n");
    m_station->engine()->ReloadSettings();
    m_bed->putBack("1-1.1");
    ASSERT_TRUE(m_station->waitQuery(1, 0));
    ASSERT_TRUE(m_station->download(0, 1));
    ASSERT_TRUE(QTest::qWaitFor([&] { return unit.inSystem() && m_bed->device("1-1.1"); }, 20000));
    m_bed->pull("1-1.1");
    auto settings = m_station->deviceSettings(1);
    settings.imei = "490154203237518";
    m_bed->plugModel("1-1.1", model(settings));
    ASSERT_TRUE(m_station->waitQuery(1, -1));
    EXPECT_TRUE(m_station->waitQuery(1, 0, "ABC_V1.0,ABC_INT_V1.0,490154203237518"));
}

TEST_F(UsbEngineTest, UnitPluggedInRunningItsSystemIsNotReadyAndSaysWhy)
{
    m_station->writeConfig("PORT.1=usb:1-1.1\r\nLEARN_PORTS=0\r\n");
    m_bed->plug("1-1.1", nullptr, UsbTestbed::kSystemIds);
    ASSERT_TRUE(m_station->load());
    EXPECT_TRUE(m_station->waitQuery(1, 3));
    EXPECT_NE(m_station->lastMessage(0).find("is not in fastboot mode: reboot it to the bootloader"), std::string::npos)
        << m_station->lastMessage(0);
    EXPECT_EQ(enumerate(m_station->engine()), (std::vector<int32_t>{1}));
}

TEST_F(UsbEngineTest, DataThatReadsLikeARebootCommandIsOnlyData)
{
    // An image that begins with the text of a command: only the download
    // that sends the command itself says that the device leaves.
    m_station->writeConfig("PORT.1=usb:1-1.1\r\nPORT.8=usb:1-1.7\r\nLEARN_PORTS=0\r\nREBOOT=0\r\n");
    QFile boot(m_station->packageFile(QStringLiteral("boot.img")));
    ASSERT_TRUE(boot.open(QIODevice::WriteOnly | QIODevice::Truncate));
    boot.write("reboot-bootloader");
    boot.write(QByteArray(4096, '\0'));
    boot.close();
    fbdevice::DeviceModel& unit = model(1);
    m_bed->plugModel("1-1.1", unit);
    ASSERT_TRUE(m_station->load());
    ASSERT_TRUE(m_station->waitQuery(1, 0));
    ASSERT_TRUE(m_station->download(0, 1));
    ASSERT_EQ(m_station->resultOf(0), FASTBOOT_RESULT_SUCCESS) << m_station->lastMessage(0);
    EXPECT_EQ(unit.flashCount("boot"), 1);
    // A whole round of the monitor later the unit is still in its socket.
    m_bed->plug("1-1.7", nullptr, {0x05c6, 0x9008, false});
    ASSERT_TRUE(m_station->waitQuery(8, 1));
    m_bed->unplug("1-1.7");
    ASSERT_TRUE(m_station->waitQuery(8, -1));
    EXPECT_EQ(m_station->query(1), 0);
    EXPECT_EQ(m_bed->arrivals("1-1.1"), 1);
    EXPECT_EQ(enumerate(m_station->engine()), (std::vector<int32_t>{1}));
}

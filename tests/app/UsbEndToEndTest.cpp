// The window with the real fastboot engine library loaded from the build and
// emulated fastboot devices on an emulated USB hub.
#include "EngineWindowFixture.h"
#include "FastbootDevices.h"

#include "UsbTestbed.h"

#include <QFile>

#include <deque>

using namespace MainWindowLayout;

namespace {

// The sockets of the eight lines: the hub's seven ports and a root port.
const char* const kSockets[8] = {"1-1.1", "1-1.2", "1-1.3", "1-1.4", "1-1.5", "1-1.6", "1-1.7", "1-2"};

} // namespace

class UsbEndToEnd : public EngineWindowFixture
{
protected:
    UsbEndToEnd() : EngineWindowFixture("libFastbootEngine.so", 30000) {}

    void SetUp() override
    {
        std::string why;
        if (!UsbTestbed::available(&why))
            GTEST_SKIP() << why;
        m_bed = std::make_unique<UsbTestbed>();
        EngineWindowFixture::SetUp();
    }
    void TearDown() override
    {
        if (!m_bed)
            return;
        EngineWindowFixture::TearDown(); // the window and its engine before the emulated bus
        m_bed.reset();
    }

    QString makeFastbootPackage() { return FastbootDevices::makePackage(m_station, 7, 300 * 1024); }

    fbdevice::DeviceModel& addDevice(int line, int delayMsPerMiB = 0)
    {
        fbdevice::DeviceSettings s = FastbootDevices::device(line + 1, m_data.file(QStringLiteral("device-%1").arg(line)));
        s.delayMsPerMiB = delayMsPerMiB;
        auto& model = *m_models.emplace_back(std::make_unique<fbdevice::DeviceModel>(s));
        m_bed->plugModel(kSockets[line], model);
        return model;
    }
    // Port n is the socket of line n; the tool binds line n to port n.
    bool openUsb(const QString& package)
    {
        QByteArray text = "[GET_DLL_Setting]\nPORTS=1,2,3,4,5,6,7,8\nITEM_VERSIONFILE_PATH=" + package.toUtf8()
                          + "\n[FASTBOOT_Engine]\nLEARN_PORTS=0\n";
        for (int line = 0; line < 8; ++line)
            text += "PORT." + QByteArray::number(line + 1) + "=usb:" + kSockets[line] + "\n";
        return openWithConfig(text);
    }

    std::deque<std::unique_ptr<fbdevice::DeviceModel>> m_models; // outlive the bus's devices
    std::unique_ptr<UsbTestbed> m_bed;
};

TEST_F(UsbEndToEnd, EightUsbDevicesAtOncePassWithThePackageInTheirPartitions)
{
    const QString package = makeFastbootPackage();
    for (int line = 0; line < 8; ++line)
        addDevice(line);
    ASSERT_TRUE(openUsb(package));
    for (int line = 0; line < 8; ++line)
        ASSERT_TRUE(waitBadge(line, "READY")) << line << " " << infoText(line).toStdString();
    // Each line shows the device in its own socket.
    for (int line = 0; line < 8; ++line)
        EXPECT_EQ(label(ids(line).imei)->text(), QStringLiteral("3569380356438%1").arg(line + 1, 2, 10, QLatin1Char('0')));
    m_window->StartAllLines();
    ASSERT_NO_FATAL_FAILURE(waitAllPassed(8, 120000));
    for (int line = 0; line < 8; ++line)
        FastbootDevices::expectPackageIn(m_station, *m_models[line], line);
}

TEST_F(UsbEndToEnd, BootRomDeviceShowsArmModeAndUnplugFailsTheLine)
{
    const QString package = makeFastbootPackage();
    m_bed->plug(kSockets[0], nullptr, {0x05c6, 0x9008, false});
    addDevice(1, 3000);
    ASSERT_TRUE(openUsb(package));
    ASSERT_TRUE(waitFor([&] { return infoText(0) == text("IDC_EXE_INFO_PHONEINARMMODE"); }));
    EXPECT_FALSE(button(ids(0).button)->isEnabled());

    ASSERT_TRUE(waitBadge(1, "READY"));
    m_window->StartLine(1);
    ASSERT_TRUE(waitFor([&] { return bar(ids(1).progress)->value() > 0; }, 20000));
    m_bed->unplug(kSockets[1]);
    ASSERT_TRUE(waitFor([&] { return counts() == QStringLiteral("0/1"); }, 30000)) << infoText(1).toStdString();
    waitLineIdle(1);
    EXPECT_TRUE(label(ids(1).info)->toolTip().startsWith(QStringLiteral("Connection to the device lost")))
        << label(ids(1).info)->toolTip().toStdString();
}

TEST_F(UsbEndToEnd, DeviceHeldByAnotherProgramIsNotReadyAndSaysWhy)
{
    const QString package = makeFastbootPackage();
    addDevice(0);
    m_bed->device(kSockets[0])->setInterfaceBusy(true);
    ASSERT_TRUE(openUsb(package));
    ASSERT_TRUE(waitFor([&] { return infoText(0) == text("IDC_EXE_INFO_PHONEINARMMODE"); }));
    EXPECT_FALSE(button(ids(0).button)->isEnabled());
    EXPECT_TRUE(label(ids(0).info)->toolTip().contains(QStringLiteral("in use by another program")))
        << label(ids(0).info)->toolTip().toStdString();
    // Let go: the next device event offers it.
    m_bed->device(kSockets[0])->setInterfaceBusy(false);
    m_bed->unplug(kSockets[0]);
    addDevice(0);
    ASSERT_TRUE(waitBadge(0, "READY")) << infoText(0).toStdString();
}

TEST_F(UsbEndToEnd, PassedUnitsKeepTheirBadgesWhileTheyRunTheirSystemsUntilPulled)
{
    const QString package = makeFastbootPackage();
    for (int line = 0; line < 4; ++line)
        addDevice(line);
    // REBOOT=1, the default: each unit boots into its system after its
    // download and shows up as another device without fastboot.
    QByteArray config = "[GET_DLL_Setting]\nPORTS=1,2,3,4,0,0,0,0\nITEM_VERSIONFILE_PATH=" + package.toUtf8()
                        + "\n[FASTBOOT_Engine]\nLEARN_PORTS=0\nREBOOT_HOLD_S=5\n";
    for (int line = 0; line < 4; ++line)
        config += "PORT." + QByteArray::number(line + 1) + "=usb:" + kSockets[line] + "\n";
    ASSERT_TRUE(openWithConfig(config));
    for (int line = 0; line < 4; ++line)
        ASSERT_TRUE(waitBadge(line, "READY")) << line;
    m_window->StartAllLines();
    ASSERT_NO_FATAL_FAILURE(waitAllPassed(4, 60000));
    ASSERT_TRUE(waitFor([&] {
        for (int line = 0; line < 4; ++line) {
            if (!m_models[size_t(line)]->inSystem() || !m_bed->device(kSockets[line]))
                return false;
        }
        return true;
    }, 20000));

    // Pulled once the hold is long over: its row alone empties, the others
    // keep PASS while their units run their systems.
    m_bed->pull(kSockets[2]);
    ASSERT_TRUE(waitFor([&] { return infoText(2) == text("IDC_EXE_INFO_NODEVICE"); }, 20000)) << infoText(2).toStdString();
    for (const int line : {0, 1, 3}) {
        EXPECT_EQ(badge(line), QStringLiteral("PASS")) << line;
        EXPECT_EQ(infoText(line), text("IDC_EXE_INFO_DOWNLOADSUCC")) << line;
    }
}

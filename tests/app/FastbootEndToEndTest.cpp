// The window with the real fastboot engine library loaded from the build and
// emulated fastboot devices on loopback ports.
#include "EngineWindowFixture.h"
#include "FastbootDevices.h"

#include "TcpDeviceServer.h"

#include <QFile>

#include <algorithm>
#include <map>

using namespace MainWindowLayout;

class FastbootEndToEnd : public EngineWindowFixture
{
protected:
    FastbootEndToEnd() : EngineWindowFixture("libFastbootEngine.so", 30000) {}

    void TearDown() override
    {
        EngineWindowFixture::TearDown();
        for (auto& [port, device] : m_devices)
            device.server->stop();
    }

    QString makeFastbootPackage() { return FastbootDevices::makePackage(m_station, 5, 500 * 1024); }

    fbdevice::DeviceSettings settings(int port, const std::string& display = "ABC_DE_V1.0")
    {
        fbdevice::DeviceSettings s = FastbootDevices::device(port, m_data.file(QStringLiteral("device-%1").arg(port)));
        s.display = display;
        return s;
    }

    void addDevice(int port, const fbdevice::DeviceSettings& s)
    {
        Device& d = m_devices[port];
        d.model = std::make_unique<fbdevice::DeviceModel>(s);
        d.server = std::make_unique<fbdevice::TcpDeviceServer>(*d.model, 0);
        std::string why;
        ASSERT_TRUE(d.server->start(&why)) << why;
    }

    bool openFastboot(const QByteArray& ports, const QString& package, const QByteArray& engineKeys = {})
    {
        QByteArray text = "[GET_DLL_Setting]\nPORTS=" + ports + "\nITEM_VERSIONFILE_PATH=" + package.toUtf8()
                          + "\n[FASTBOOT_Engine]\n" + engineKeys;
        for (const auto& [port, device] : m_devices)
            text += "PORT." + QByteArray::number(port) + "=tcp:127.0.0.1:" + QByteArray::number(device.server->port()) + "\n";
        return openWithConfig(text);
    }

    QByteArray partition(int port, const char* name) const
    {
        return FastbootDevices::partition(*m_devices.at(port).model, name);
    }

    struct Device
    {
        std::unique_ptr<fbdevice::DeviceModel> model;
        std::unique_ptr<fbdevice::TcpDeviceServer> server;
    };
    std::map<int, Device> m_devices;
};

TEST_F(FastbootEndToEnd, EightDevicesAtOncePassWithThePackageInTheirPartitions)
{
    const QString package = makeFastbootPackage();
    for (int port = 1; port <= 8; ++port)
        addDevice(port, settings(port));
    ASSERT_TRUE(openFastboot("1,2,3,4,5,6,7,8", package));
    for (int line = 0; line < 8; ++line)
        ASSERT_TRUE(waitBadge(line, "READY")) << line << " " << infoText(line).toStdString();
    EXPECT_EQ(label(ids(2).imei)->text(), QStringLiteral("356938035643803"));
    m_window->StartAllLines();
    // The counters tell the outcome.
    ASSERT_NO_FATAL_FAILURE(waitAllPassed(8, 60000));
    for (int port = 1; port <= 8; ++port)
        FastbootDevices::expectPackageIn(m_station, *m_devices.at(port).model, port);
}

TEST_F(FastbootEndToEnd, DeviceOfAnotherProductLineIsRefusedBeforeAnyWrite)
{
    const QString package = makeFastbootPackage();
    addDevice(3, settings(3, "XYZ_V1.0"));
    ASSERT_TRUE(openFastboot("3", package));
    ASSERT_TRUE(waitBadge(0, "READY"));
    m_window->StartLine(0);
    ASSERT_TRUE(waitBadge(0, "FAIL"));
    waitLineIdle(0);
    EXPECT_EQ(infoText(0), text("IDC_EXE_INFO_MATCHVERSIONERROR"));
    EXPECT_EQ(m_devices.at(3).model->flashCount("system"), 0);
    EXPECT_EQ(m_devices.at(3).model->flashCount("boot"), 0);
    EXPECT_EQ(partition(3, "system"), QByteArray("<missing>"));
}

TEST_F(FastbootEndToEnd, ReadBackOnPasses)
{
    const QString package = makeFastbootPackage();
    addDevice(2, settings(2));
    ASSERT_TRUE(openFastboot("2", package, "READBACK=1\nARRIVAL_TIMEOUT_S=20\n"));
    ASSERT_TRUE(waitBadge(0, "READY"));
    m_window->StartLine(0);
    // Counted as a pass.
    ASSERT_TRUE(waitFor([&] { return counts() == QStringLiteral("1/1"); }, 30000)) << infoText(0).toStdString();
    waitLineIdle(0);
    EXPECT_EQ(m_devices.at(2).model->display(), "ABC_DE_V2.3");
    EXPECT_EQ(partition(2, "system"), m_station.read(QStringLiteral("fbpkg/system.img")));
}

TEST_F(FastbootEndToEnd, UnplugDuringADownloadFails)
{
    const QString package = makeFastbootPackage();
    auto slow = settings(4);
    slow.delayMsPerMiB = 3000;
    addDevice(4, slow);
    ASSERT_TRUE(openFastboot("4", package));
    ASSERT_TRUE(waitBadge(0, "READY"));
    m_window->StartLine(0);
    ASSERT_TRUE(waitFor([&] { return bar(ids(0).progress)->value() > 0; }, 20000));
    m_devices.at(4).server->stop();
    // The failure is counted; soon after, the port scan shows the line
    // without its device, so the info text is one of the two.
    ASSERT_TRUE(waitFor([&] { return counts() == QStringLiteral("0/1"); }, 30000));
    waitLineIdle(0);
    EXPECT_TRUE(infoText(0) == text("IDC_EXE_INFO_DOWNLOADFAIL") || infoText(0) == text("IDC_EXE_INFO_NODEVICE"))
        << infoText(0).toStdString();
    // The reason stays in sight as the tooltip; the control id stays put.
    EXPECT_TRUE(label(ids(0).info)->toolTip().startsWith(QStringLiteral("Connection to the device lost")))
        << label(ids(0).info)->toolTip().toStdString();
    EXPECT_EQ(label(ids(0).info)->accessibleDescription(), QStringLiteral("id%1").arg(ids(0).info));
}

TEST_F(FastbootEndToEnd, PassedUnitsKeepTheirBadgesAfterTheirRebootUntilPulled)
{
    const QString package = makeFastbootPackage();
    for (int port = 1; port <= 4; ++port)
        addDevice(port, settings(port));
    // REBOOT=1, the default: each unit boots into its system after its download.
    ASSERT_TRUE(openFastboot("1,2,3,4", package, "PROBE_INTERVAL_MS=100\nREBOOT_HOLD_S=60\n"));
    for (int line = 0; line < 4; ++line)
        ASSERT_TRUE(waitBadge(line, "READY")) << line;
    m_window->StartAllLines();
    ASSERT_NO_FATAL_FAILURE(waitAllPassed(4, 60000));

    // Running their systems their endpoints are silent; the monitor keeps
    // looking, and the rows keep their results.
    const auto probedAgain = [&] {
        std::map<int, int> seen;
        for (const auto& [port, device] : m_devices)
            seen[port] = device.server->connections();
        return waitFor([&] {
            return std::all_of(seen.begin(), seen.end(),
                               [&](const auto& s) { return m_devices.at(s.first).server->connections() >= s.second + 2; });
        });
    };
    ASSERT_TRUE(waitFor([&] {
        return std::all_of(m_devices.begin(), m_devices.end(), [](const auto& d) { return d.second.model->inSystem(); });
    }));
    ASSERT_TRUE(probedAgain());
    for (int line = 0; line < 4; ++line) {
        EXPECT_EQ(badge(line), QStringLiteral("PASS")) << line;
        EXPECT_EQ(infoText(line), text("IDC_EXE_INFO_DOWNLOADSUCC")) << line;
    }

    // Back in their bootloaders they answer as the same units. One is
    // pulled: its row alone empties.
    for (auto& [port, device] : m_devices)
        device.model->bootToBootloader();
    ASSERT_TRUE(probedAgain());
    writeConfig(m_station.read(QStringLiteral("config.ini")).replace("REBOOT_HOLD_S=60", "REBOOT_HOLD_S=1"));
    m_devices.at(2).server->stop();
    ASSERT_TRUE(waitFor([&] { return infoText(1) == text("IDC_EXE_INFO_NODEVICE"); }, 20000)) << infoText(1).toStdString();
    for (const int line : {0, 2, 3}) {
        EXPECT_EQ(badge(line), QStringLiteral("PASS")) << line;
        EXPECT_EQ(infoText(line), text("IDC_EXE_INFO_DOWNLOADSUCC")) << line;
    }
}

// The window with the real fastboot engine library loaded from the build and
// emulated fastboot devices on loopback ports.
#include "WindowFixture.h"

#include "DeviceModel.h"
#include "TcpDeviceServer.h"
#include "lines/EngineBinding.h"

#include <QFile>

#include <map>

using namespace MainWindowLayout;

class FastbootEndToEnd : public WindowFixture
{
protected:
    void SetUp() override
    {
        WindowFixture::SetUp();
        ASSERT_TRUE(QFile::copy(QStringLiteral(STATION_BUILD_STATION_DIR "/engines/libFastbootEngine.so"),
                                m_station.file(QStringLiteral("libPhoneFlashEngine.so"))));
        EngineBinding::setLibraryName(m_station.file(QStringLiteral("libPhoneFlashEngine.so")));
    }
    void TearDown() override
    {
        WindowFixture::TearDown();
        EngineBinding::setLibraryName(QString());
        for (auto& [port, device] : m_devices)
            device.server->stop();
    }

    // A package of 1 MiB system image and a boot image, both whole blocks,
    // so that the partitions equal them byte for byte.
    QString makeFastbootPackage()
    {
        QByteArray system(1024 * 1024, '\0');
        uint32_t x = 5;
        for (qsizetype i = 0; i < system.size(); ++i) {
            x = x * 1103515245u + 12345u;
            system[i] = char(x >> 24);
        }
        const QByteArray lines = "\nro.build.display.id=ABC_DE_V2.3\nro.build.sw_internal_version=ABC_DE_INT_V2.3\n";
        system.replace(500 * 1024, lines.size(), lines);
        m_station.write(QStringLiteral("fbpkg/system.img"), system);
        m_station.write(QStringLiteral("fbpkg/boot.img"), QByteArray(64 * 1024, '\x42'));
        return m_station.file(QStringLiteral("fbpkg"));
    }

    fbdevice::DeviceSettings settings(int port, const std::string& display = "ABC_DE_V1.0")
    {
        fbdevice::DeviceSettings s;
        s.display = display;
        s.internal = "ABC_DE_INT_V1.0";
        s.imei = QStringLiteral("3569380356438%1").arg(port, 2, 10, QLatin1Char('0')).toStdString();
        s.maxDownload = 256 * 1024; // the system image goes in sparse pieces
        s.awayMs = 300;
        s.storageDir = QFile::encodeName(m_data.file(QStringLiteral("device-%1").arg(port))).toStdString();
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
        writeConfig(text);
        MainDialog::Services services;
        services.prompter = &m_prompter;
        services.clock = &m_clock;
        services.versionWait = std::chrono::seconds(20);
        m_window = std::make_unique<MainDialog>(services);
        return m_window->OnInitDialog();
    }

    bool waitBadge(int line, const char* word, int timeoutMs = 30000)
    {
        return waitFor([&] { return badge(line) == QLatin1String(word); }, timeoutMs);
    }
    QByteArray partition(int port, const char* name) const
    {
        QFile f(QString::fromStdString(m_devices.at(port).model->partitionPath(name)));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    QString counts() const { return label(IdSuccessCounts)->text(); }

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
    // A line that passed is offered again once its device is back from
    // the reboot, so the counters tell the outcome.
    ASSERT_TRUE(waitFor([&] { return counts() == QStringLiteral("8/8"); }, 60000)) << counts().toStdString();
    for (int line = 0; line < 8; ++line)
        waitLineIdle(line);
    const QByteArray system = m_station.read(QStringLiteral("fbpkg/system.img"));
    const QByteArray boot = m_station.read(QStringLiteral("fbpkg/boot.img"));
    for (int port = 1; port <= 8; ++port) {
        EXPECT_EQ(partition(port, "system"), system) << port;
        EXPECT_EQ(partition(port, "boot"), boot) << port;
        EXPECT_GE(m_devices.at(port).model->flashCount("system"), 4) << port; // in sparse pieces
    }
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
    // Counted as a pass (the line is offered again once the device is back).
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

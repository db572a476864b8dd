// The window with the real modem engine library loaded from the build and
// emulated cellular modules on the emulated USB hub: identity over the AT
// tty, the switch to download mode, Sahara and Firehose over libusb, and the
// read-back after the reset.
#include "EngineWindowFixture.h"

#include "ModuleModel.h"
#include "UsbTestbed.h"

#include "support/TestRandom.h"

#include <QDir>
#include <QFile>

#include <deque>

using namespace MainWindowLayout;

namespace {

// The sockets of the eight lines: the hub's seven ports and a root port.
const char* const kSockets[8] = {"1-1.1", "1-1.2", "1-1.3", "1-1.4", "1-1.5", "1-1.6", "1-1.7", "1-2"};
constexpr char kSwitch[] = "AT+DLMODE";

} // namespace

class ModemEndToEnd : public EngineWindowFixture
{
protected:
    ModemEndToEnd() : EngineWindowFixture("libModemEngine.so", 30000) {}

    void SetUp() override
    {
        std::string why;
        if (!UsbTestbed::available(&why))
            GTEST_SKIP() << why;
        m_bed = std::make_unique<UsbTestbed>();
        EngineWindowFixture::SetUp();
        makeModemPackage();
    }
    void TearDown() override
    {
        if (!m_bed)
            return;
        EngineWindowFixture::TearDown(); // the window and its engine before the emulated bus
        m_bed.reset();
    }

    // The programmer, two images (the modem image carrying the revision a
    // module reports after its reset), rawprogram0.xml and the version file.
    void makeModemPackage()
    {
        m_programmer = pseudoRandomBytes(20 * 1024, 1);
        m_sbl = pseudoRandomBytes(64 * 1024 + 100, 2);
        m_modem = pseudoRandomBytes(700 * 1024, 3) + "\nMODEM_REVISION=ABC_DE_V2.3\n";
        m_station.write(QStringLiteral("modempkg/prog_firehose.mbn"), m_programmer);
        m_station.write(QStringLiteral("modempkg/sbl1.img"), m_sbl);
        m_station.write(QStringLiteral("modempkg/modem.img"), m_modem);
        m_station.write(QStringLiteral("modempkg/system.img"),
                        QByteArray(4096, 'x') + "\nro.build.display.id=ABC_DE_V2.3\nro.build.sw_internal_version=ABC_DE_V2.3\n");
        m_station.write(QStringLiteral("modempkg/rawprogram0.xml"),
                        "<?xml version=\"1.0\" ?>\n<data>\n"
                        "<program SECTOR_SIZE_IN_BYTES=\"512\" filename=\"sbl1.img\" label=\"sbl1\" "
                        "num_partition_sectors=\"1024\" physical_partition_number=\"0\" start_sector=\"34\"/>\n"
                        "<program SECTOR_SIZE_IN_BYTES=\"512\" filename=\"modem.img\" label=\"modem\" "
                        "num_partition_sectors=\"4096\" physical_partition_number=\"0\" start_sector=\"2048\"/>\n"
                        "</data>\n");
        m_package = m_station.file(QStringLiteral("modempkg"));
    }

    modemdevice::ModuleSettings settings(int line, const std::string& revision = "ABC_DE_V1.0")
    {
        modemdevice::ModuleSettings s;
        s.imei = QStringLiteral("3569380356438%1").arg(line + 1, 2, 10, QLatin1Char('0')).toStdString();
        s.revision = revision;
        s.switchCommand = kSwitch;
        s.programmer = m_programmer.toStdString();
        const QString storage = m_data.file(QStringLiteral("module-%1").arg(line));
        QDir().mkpath(storage);
        s.storageDir = QFile::encodeName(storage).toStdString();
        s.diskSectors = 16384;
        return s;
    }

    modemdevice::ModuleModel& addModule(int line, const modemdevice::ModuleSettings& s)
    {
        auto& model = *m_models.emplace_back(std::make_unique<modemdevice::ModuleModel>(s));
        m_bed->plugModule(kSockets[line], model);
        return model;
    }

    // Port n is the socket of line n; the tool binds line n to port n.
    bool openModem(const QByteArray& ports, const QByteArray& extra = {}, bool dlMode = false)
    {
        QByteArray text = "[DLOption]\nDLMode=" + QByteArray(dlMode ? "1" : "0") + "\n[GET_DLL_Setting]\nPORTS="
                          + ports + "\nITEM_VERSIONFILE_PATH=" + m_package.toUtf8()
                          + "\n[MODEM_Engine]\nLEARN_PORTS=0\nEDL_SWITCH=at:" + kSwitch + "\n" + extra;
        for (int line = 0; line < 8; ++line)
            text += "PORT." + QByteArray::number(line + 1) + "=usb:" + kSockets[line] + "\n";
        return openWithConfig(text);
    }

    QByteArray written(int line, qint64 offset, qint64 size) const
    {
        QFile file(m_data.file(QStringLiteral("module-%1/lun0.img").arg(line)));
        if (!file.open(QIODevice::ReadOnly) || !file.seek(offset))
            return QByteArray("<missing>");
        return file.read(size);
    }

    void expectPackageIn(int line)
    {
        EXPECT_EQ(written(line, 34 * 512, m_sbl.size()), m_sbl) << line;
        EXPECT_EQ(written(line, 2048 * 512, m_modem.size()), m_modem) << line;
    }

    QString tooltip(int line) const { return label(ids(line).info)->toolTip(); }

    QByteArray m_programmer, m_sbl, m_modem;
    QString m_package;
    std::deque<std::unique_ptr<modemdevice::ModuleModel>> m_models; // outlive the bus's devices
    std::unique_ptr<UsbTestbed> m_bed;
};

TEST_F(ModemEndToEnd, EightModulesAtOncePassWithThePackageWrittenAndReadBack)
{
    for (int line = 0; line < 8; ++line)
        addModule(line, settings(line));
    ASSERT_TRUE(openModem("1,2,3,4,5,6,7,8"));
    for (int line = 0; line < 8; ++line)
        ASSERT_TRUE(waitBadge(line, "READY")) << line << " " << infoText(line).toStdString();
    EXPECT_EQ(label(ids(2).imei)->text(), QStringLiteral("356938035643803"));
    m_window->StartAllLines();
    ASSERT_NO_FATAL_FAILURE(waitAllPassed(8, 120000));
    for (int line = 0; line < 8; ++line) {
        expectPackageIn(line);
        EXPECT_EQ(m_models[size_t(line)]->revision(), "ABC_DE_V2.3") << line;
        EXPECT_EQ(m_models[size_t(line)]->resets(), 1) << line;
        EXPECT_EQ(badge(line), QStringLiteral("PASS")) << line;
    }
}

TEST_F(ModemEndToEnd, AModuleOfAnotherProductLineIsRefusedBeforeItIsSwitched)
{
    auto& model = addModule(0, settings(0, "XYZ_V3.0"));
    ASSERT_TRUE(openModem("1"));
    ASSERT_TRUE(waitBadge(0, "READY"));
    m_window->StartLine(0);
    ASSERT_TRUE(waitBadge(0, "FAIL"));
    waitLineIdle(0);
    EXPECT_EQ(infoText(0), text("IDC_EXE_INFO_MATCHVERSIONERROR"));
    EXPECT_EQ(model.mode(), modemdevice::ModuleModel::Mode::Normal);
    EXPECT_EQ(m_bed->arrivals(kSockets[0]), 1);
    EXPECT_EQ(written(0, 0, 1), QByteArray("<missing>"));
}

TEST_F(ModemEndToEnd, ABlankBoardIsWrittenWithDLMode)
{
    auto blank = settings(0, "");
    blank.imei.clear();
    blank.startInDownload = true;
    auto& model = addModule(0, blank);
    ASSERT_TRUE(openModem("1", {}, true));
    ASSERT_TRUE(waitBadge(0, "READY")) << infoText(0).toStdString();
    m_window->StartLine(0);
    ASSERT_TRUE(waitFor([&] { return counts() == QStringLiteral("1/1"); }, 60000)) << tooltip(0).toStdString();
    waitLineIdle(0);
    expectPackageIn(0);
    EXPECT_EQ(model.revision(), "ABC_DE_V2.3");
    EXPECT_EQ(model.mode(), modemdevice::ModuleModel::Mode::Normal);
}

TEST_F(ModemEndToEnd, ReadBackOffPassesWithoutWaitingForTheModule)
{
    auto& model = addModule(0, settings(0));
    ASSERT_TRUE(openModem("1", "READBACK=0\n"));
    ASSERT_TRUE(waitBadge(0, "READY"));
    m_window->StartLine(0);
    ASSERT_TRUE(waitFor([&] { return counts() == QStringLiteral("1/1"); }, 60000)) << tooltip(0).toStdString();
    waitLineIdle(0);
    expectPackageIn(0);
    EXPECT_EQ(model.resets(), 1);
}

TEST_F(ModemEndToEnd, AModulePulledMidTransferFailsWithItsReasonWhileTheOthersPass)
{
    for (int line = 0; line < 3; ++line) {
        auto s = settings(line);
        if (line == 1)
            s.dropAfter = 200 * 1024; // leaves the bus in the middle of the modem image
        addModule(line, s);
    }
    ASSERT_TRUE(openModem("1,2,3"));
    for (int line = 0; line < 3; ++line)
        ASSERT_TRUE(waitBadge(line, "READY")) << line;
    m_window->StartAllLines();
    ASSERT_TRUE(waitFor([&] { return counts() == QStringLiteral("2/3"); }, 120000)) << counts().toStdString();
    for (int line = 0; line < 3; ++line)
        waitLineIdle(line);
    EXPECT_EQ(badge(1), QStringLiteral("FAIL"));
    EXPECT_TRUE(tooltip(1).contains(QStringLiteral("Was the module pulled?"))) << tooltip(1).toStdString();
    for (const int line : {0, 2}) {
        EXPECT_EQ(badge(line), QStringLiteral("PASS")) << line;
        expectPackageIn(line);
    }
}

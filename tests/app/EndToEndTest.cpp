// The window with the real stand-in engine library loaded from the build.
#include "EngineWindowFixture.h"

#include "records/RecordCipher.h"

#include <QFile>
#include <QProcess>

using namespace MainWindowLayout;

class EndToEnd : public EngineWindowFixture
{
protected:
    EndToEnd() : EngineWindowFixture("libSimEngine.so", 20000) {}

    bool openReal(const QByteArray& ports, const QString& package)
    {
        return openWithConfig("[GET_DLL_Setting]\nPORTS=" + ports + "\nITEM_VERSIONFILE_PATH=" + package.toUtf8() + "\n");
    }
    void simbus(const QStringList& args)
    {
        QProcess process;
        // The engine's default bus is "simbus/" in its station folder.
        process.start(QStringLiteral(STATION_BUILD_STATION_DIR "/tools/simbus"),
                      QStringList{QStringLiteral("--bus"), m_station.file(QStringLiteral("simbus"))} + args);
        ASSERT_TRUE(process.waitForFinished(10000));
        ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    }
    void plugDevice(int port, const QString& display = QStringLiteral("ABC_DE_V1.0"),
                    const QString& internal = QStringLiteral("ABC_DE_INT_V1.0"), const QStringList& extra = {})
    {
        simbus(QStringList{QStringLiteral("plug"), QString::number(port), QStringLiteral("--imei"),
                           QStringLiteral("3569380356438%1").arg(port, 2, 10, QLatin1Char('0')),
                           QStringLiteral("--display"), display, QStringLiteral("--internal"), internal}
               + extra);
    }
};

TEST_F(EndToEnd, PluggedDeviceIsOfferedAndPasses)
{
    const QString package = makePackage();
    ASSERT_TRUE(openReal("3", package));
    EXPECT_EQ(infoText(0), text("IDC_EXE_INFO_NODEVICE"));
    plugDevice(3);
    ASSERT_TRUE(waitBadge(0, "READY"));
    EXPECT_EQ(label(ids(0).imei)->text(), QStringLiteral("356938035643803"));
    m_window->StartAllLines();
    ASSERT_TRUE(waitBadge(0, "PASS"));
    waitLineIdle(0);
    EXPECT_EQ(label(ids(0).version)->text(), QStringLiteral("ABC_DE_V2.3"));
    EXPECT_EQ(infoText(0), text("IDC_EXE_INFO_DOWNLOADSUCC"));
    EXPECT_EQ(counts(), QStringLiteral("1/1"));
    EXPECT_EQ(m_station.read(QStringLiteral("simbus/port-3.data/system.img")),
              m_station.read(QStringLiteral("pkg-ABC_DE_V2.3/system.img")));
}

TEST_F(EndToEnd, EightLinesAtOnceAllPass)
{
    const QString package = makePackage();
    ASSERT_TRUE(openReal("1,2,3,4,5,6,7,8", package));
    for (int port = 1; port <= 8; ++port)
        plugDevice(port);
    for (int line = 0; line < 8; ++line)
        ASSERT_TRUE(waitBadge(line, "READY")) << line;
    m_window->StartAllLines();
    for (int line = 0; line < 8; ++line)
        ASSERT_TRUE(waitBadge(line, "PASS")) << line << " " << infoText(line).toStdString();
    for (int line = 0; line < 8; ++line)
        waitLineIdle(line);
    EXPECT_EQ(counts(), QStringLiteral("8/8"));
}

TEST_F(EndToEnd, UnplugDuringDownloadFails)
{
    const QString package = makePackage();
    m_station.write(QStringLiteral("pkg-ABC_DE_V2.3/big.img"), QByteArray(4 * 1024 * 1024, 'b'));
    ASSERT_TRUE(openReal("3", package));
    plugDevice(3, QStringLiteral("ABC_DE_V1.0"), QStringLiteral("ABC_DE_INT_V1.0"),
               {QStringLiteral("--speed"), QStringLiteral("1000000")});
    ASSERT_TRUE(waitBadge(0, "READY"));
    m_window->StartLine(0);
    ASSERT_TRUE(waitFor([&] { return bar(ids(0).progress)->value() > 0; }, 20000));
    simbus({QStringLiteral("unplug"), QStringLiteral("3")});
    ASSERT_TRUE(waitBadge(0, "FAIL"));
    waitLineIdle(0);
    EXPECT_EQ(counts(), QStringLiteral("0/1"));
}

TEST_F(EndToEnd, DeviceFailingAtHalfWayFails)
{
    const QString package = makePackage();
    ASSERT_TRUE(openReal("3", package));
    plugDevice(3, QStringLiteral("ABC_DE_V1.0"), QStringLiteral("ABC_DE_INT_V1.0"),
               {QStringLiteral("--fail-at"), QStringLiteral("50")});
    ASSERT_TRUE(waitBadge(0, "READY"));
    m_window->StartLine(0);
    ASSERT_TRUE(waitBadge(0, "FAIL"));
    waitLineIdle(0);
    EXPECT_EQ(infoText(0), text("IDC_EXE_INFO_DOWNLOADFAIL"));
}

TEST_F(EndToEnd, ArmDeviceIsNotOffered)
{
    const QString package = makePackage();
    ASSERT_TRUE(openReal("3", package));
    plugDevice(3);
    ASSERT_TRUE(waitBadge(0, "READY"));
    simbus({QStringLiteral("arm"), QStringLiteral("3")});
    ASSERT_TRUE(waitFor([&] { return infoText(0) == text("IDC_EXE_INFO_PHONEINARMMODE"); }));
    EXPECT_FALSE(button(ids(0).button)->isEnabled());
}

TEST_F(EndToEnd, MismatchingDeviceFailsAndLeavesCountersAndRecords)
{
    const QString package = makePackage();
    ASSERT_TRUE(openReal("3", package));
    plugDevice(3, QStringLiteral("XYZ_V1.0"), QStringLiteral("XYZ_INT_V1.0"));
    ASSERT_TRUE(waitBadge(0, "READY"));
    const QByteArray log = m_data.read(QStringLiteral("rqvtcsv123.ds.dll"));
    m_window->StartLine(0);
    ASSERT_TRUE(waitBadge(0, "FAIL"));
    waitLineIdle(0);
    EXPECT_EQ(infoText(0), text("IDC_EXE_INFO_MATCHVERSIONERROR"));
    EXPECT_EQ(counts(), QStringLiteral("0/0"));
    EXPECT_EQ(m_data.read(QStringLiteral("rqvtcsv123.ds.dll")), log);
    EXPECT_FALSE(m_station.exists(QStringLiteral("simbus/port-3.data/system.img")));
}

TEST_F(EndToEnd, ExportedCsvHoldsTheDownloadAndReadsBackWithNineteenColumns)
{
    const QString package = makePackage();
    ASSERT_TRUE(openReal("3", package));
    plugDevice(3);
    ASSERT_TRUE(waitBadge(0, "READY"));
    m_window->StartLine(0);
    ASSERT_TRUE(waitBadge(0, "PASS"));
    waitLineIdle(0);
    const QString csv = m_data.file(QStringLiteral("out.csv"));
    m_prompter.expectSaveFile(csv);
    m_prompter.expectMessage();
    m_window->OnExportRecords();
    const QByteArray exported = m_data.read(QStringLiteral("out.csv"));
    EXPECT_TRUE(exported.endsWith(", ABC_DE_V2.3, Y, Y, Y, Y, Y, Y, Y, Y, Y, Y, Y, Y\r\n")) << exported.toStdString();
    QProcess python;
    python.start(QStringLiteral("python3"),
                 {QStringLiteral("-c"),
                  QStringLiteral("import csv,sys\n"
                                 "rows=list(csv.reader(open(sys.argv[1],newline=''),skipinitialspace=True))\n"
                                 "print(len(rows), set(len(r) for r in rows))"),
                  csv});
    ASSERT_TRUE(python.waitForFinished(20000));
    EXPECT_EQ(python.readAllStandardOutput().trimmed(), QByteArray("2 {19}"));
}

TEST_F(EndToEnd, MissingLibraryShowsLoadFailure)
{
    QFile::remove(m_station.file(QStringLiteral("libPhoneFlashEngine.so")));
    m_prompter.expectMessage();
    EXPECT_FALSE(openReal("3", makePackage()));
    EXPECT_EQ(m_prompter.messageTexts(), QStringList{QStringLiteral("Load dll failed!")});
}

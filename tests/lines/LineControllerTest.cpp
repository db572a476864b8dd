#include "lines/LineController.h"

#include "app/StationResults.h"

#include "RecordingRows.h"
#include "lines/LineWorker.h"
#include "lines/StationLog.h"
#include "platform/StationPaths.h"
#include "platform/SystemLocale.h"
#include "records/PassCounters.h"
#include "records/RecordPrompts.h"
#include "records/RecordStore.h"
#include "settings/LanguageText.h"
#include "settings/VersionFileReader.h"
#include "support/FakeClock.h"
#include "support/Gate.h"
#include "support/ScriptedEngine.h"
#include "support/ScriptedPrompter.h"
#include "support/TempDir.h"
#include "support/WaitFor.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>

namespace {

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The record file exists: the record log has nothing to ask.
class NoRecordPrompts final : public RecordPrompts
{
public:
    QString AskForRecordFile(bool) override { return fail(); }
    QString AskForExportFile(const QString&) override { return fail(); }
    void ShowExportResult(bool, bool) override { fail(); }
    void FatalError(const QString&, int) override { fail(); }

private:
    static QString fail()
    {
        ADD_FAILURE() << "unexpected record log prompt";
        return {};
    }
};

constexpr QByteArray::value_type kDevice[] = "ABC_DE_V1.0,ABC_DE_INT_V1.0,356938035643809";

} // namespace

// The lines of a station in a temporary folder, without a window: a scripted
// engine, scripted prompts, real counters, record log and version reader.
class LineControllerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        StationPaths::overrideExecutableDir(m_station.path());
        StationPaths::overrideDataDir(m_data.path());
        SystemLocale::overrideLocale("en_US");
        const QString res = QStringLiteral(STATION_TEST_DATA "/../../res/");
        m_station.write(QStringLiteral("lang/LAN_ENG.ini"), readFile(res + QStringLiteral("lang/LAN_ENG.ini")));
        m_station.write(QStringLiteral("RecordCSV.sdi"),
                        readFile(QStringLiteral(STATION_BUILD_STATION_DIR "/RecordCSV.sdi")));
        m_text = std::make_unique<LanguageText>(m_station.path());
        LanguageText::SetInstance(m_text.get());
    }

    void TearDown() override
    {
        m_lines.reset();
        m_log.reset();
        m_reader.reset();
        LanguageText::SetInstance(nullptr);
        SystemLocale::overrideLocale("");
        StationPaths::overrideExecutableDir(QString());
        StationPaths::overrideDataDir(QString());
    }

    // Binds lines 0.. to the ports, reads the package (when given) and scans
    // the ports as the window does at set-up.
    void start(const QByteArray& ports, const QString& package)
    {
        m_reader = std::make_unique<VersionFileReader>();
        m_reader->setDirectory(package);
        m_reader->start();
        m_counters = std::make_unique<PassCounters>(m_data.file(QStringLiteral("counters.ini")));
        m_counters->LoadCounters(m_rows.ClockText());
        m_records = std::make_unique<RecordStore>(m_recordPrompts, m_station.file(QStringLiteral("RecordCSV.sdi")),
                                                  m_data.path(), QString(), false);
        m_records->SeedWorkingCopy();
        m_lines = std::make_unique<LineController>(m_rows, m_prompter, m_clock, &m_context);
        m_results = std::make_unique<StationResults>(m_rows);
        m_results->SetCounters(m_counters.get());
        m_results->SetRecords(m_records.get());
        m_lines->SetResultSink(m_results.get());
        m_lines->SetVersionReader(m_reader.get(), m_skipVerification, m_versionWait);
        m_lines->SetDuplicateImeiCheck(m_dupImeiCheck);
        m_lines->SetAutoStart(m_autoStart, std::chrono::milliseconds(1500));
        m_lines->SetLog(m_log.get());
        ASSERT_TRUE(m_lines->Binding().Adopt(&m_engine, m_lines.get(), &m_context));
        m_lines->ResetLines();
        m_lines->BindPorts(ParsePorts(ports));
        m_lines->RefreshPorts(1);
    }

    // Lines 0..n-1 on ports 3, 4, ... with ready devices (each of its own
    // IMEI), and a package read.
    void startReady(int lines = 1)
    {
        QByteArray ports;
        for (int i = 0; i < lines; ++i) {
            ports += (i ? "," : "") + QByteArray::number(3 + i);
            plug(3 + i, unit(i));
        }
        start(ports, makePackage());
        ASSERT_TRUE(waitFor([&] { return !m_reader->internalVersion().isEmpty(); }));
    }

    void plug(int port, const QByteArray& info = kDevice) { m_engine.setDevice(port, 0, info); }
    // The device text of the nth unit: kDevice, then other IMEIs.
    static QByteArray unit(int n)
    {
        return n == 0 ? QByteArray(kDevice) : "ABC_DE_V1.0,ABC_DE_INT_V1.0,3569380356438" + QByteArray::number(10 + n);
    }
    std::vector<std::pair<int, int>> sortedDownloads() const
    {
        auto calls = m_engine.downloadCalls();
        std::sort(calls.begin(), calls.end());
        return calls;
    }

    QString makePackage()
    {
        m_station.write(QStringLiteral("pkg/system.img"),
                        "\nro.build.display.id=ABC_DE_V2.3\nro.build.sw_internal_version=ABC_DE_INT_V2.3\n");
        return m_station.path() + QStringLiteral("pkg");
    }

    void waitLineIdle(int line)
    {
        ASSERT_TRUE(waitFor([&] { return !m_lines->LineStateOf(line).running && m_lines->LiveWorkers() == 0; }));
    }

    // The daily log in the data dir, written by its own thread.
    void useLog()
    {
        m_log = std::make_unique<StationLog>(m_data.path() + QStringLiteral("logs/"));
        m_log->Start();
    }
    QByteArray logOf(const QDate& day)
    {
        EXPECT_TRUE(m_log->Flush(std::chrono::seconds(10)));
        return m_data.read(QStringLiteral("logs/") + StationLog::FileName(day));
    }
    QByteArray todaysLog() { return logOf(m_clock.now().date()); }

    void advanceClock(int ms) { m_clock.set(m_clock.now().addMSecs(ms)); }
    void passDownloads()
    {
        m_engine.setDownload([](ScriptedEngine& e, int line, int) { e.result(line, 0); });
    }
    // Two units with one IMEI on the first two lines: both are flashed and pass.
    void expectSameImeiUnitsBothPass()
    {
        passDownloads();
        plug(3);
        plug(4); // the same IMEI
        start("3,4", makePackage());
        m_lines->StartAllLines();
        waitLineIdle(0);
        waitLineIdle(1);
        EXPECT_EQ(m_rows.badge(1), BADGE_PASS);
        EXPECT_EQ(m_engine.downloads(), 2);
    }
    // Records in the plain scratch copy of the log, one per line.
    int records() const
    {
        const QByteArray log = m_data.read(QStringLiteral("rqvtcsv123.txt"));
        return log.isEmpty() ? 0 : int(log.count('\n')) - 1; // the title line
    }

    QString counts() const { return m_counters->CurrentDisplay() + QLatin1Char(' ') + m_counters->CumulativeDisplay(); }
    QString text(const char* key) const { return LanguageText::Instance().Lookup(key); }
    void holdDownloads(Gate& gate)
    {
        m_engine.setDownload([&gate](ScriptedEngine& e, int line, int) {
            gate.wait();
            e.result(line, 0);
        });
    }

    TempDir m_station;
    TempDir m_data;
    QObject m_context;
    ScriptedEngine m_engine;
    ScriptedPrompter m_prompter;
    NoRecordPrompts m_recordPrompts;
    FakeClock m_clock;
    RecordingRows m_rows;
    std::unique_ptr<LanguageText> m_text;
    std::unique_ptr<VersionFileReader> m_reader;
    std::unique_ptr<PassCounters> m_counters;
    std::unique_ptr<RecordStore> m_records;
    std::unique_ptr<StationResults> m_results; // the application's handling of results
    std::unique_ptr<LineController> m_lines;
    std::unique_ptr<StationLog> m_log;
    std::chrono::milliseconds m_versionWait{5000};
    bool m_skipVerification = false;
    bool m_dupImeiCheck = true;
    bool m_autoStart = false;
};

TEST_F(LineControllerTest, ReadyDeviceIsOfferedAndAPassIsShownCountedAndRecorded)
{
    startReady();
    EXPECT_EQ(m_rows.badge(0), BADGE_READY);
    EXPECT_TRUE(m_rows.buttonEnabled(0));
    EXPECT_EQ(m_rows.item(LINE_ITEM_IMEI, 0), QStringLiteral("356938035643809"));
    EXPECT_EQ(m_rows.info(0), text("IDC_EXE_INFO_CLICKSTARTBTN"));
    EXPECT_EQ(m_rows.info(1), QString()); // no port bound
    m_engine.setDownload([](ScriptedEngine& e, int line, int) {
        e.progress(line, 100);
        e.result(line, 0);
    });
    m_lines->StartLine(0);
    EXPECT_EQ(m_rows.badge(0), BADGE_RUNNING);
    EXPECT_FALSE(m_rows.buttonEnabled(0));
    EXPECT_TRUE(m_lines->LineTimerActive(0));
    waitLineIdle(0);
    EXPECT_EQ(m_rows.badge(0), BADGE_PASS);
    EXPECT_EQ(m_rows.info(0), text("IDC_EXE_INFO_DOWNLOADSUCC"));
    EXPECT_EQ(m_rows.item(LINE_ITEM_VERSION, 0), QStringLiteral("ABC_DE_V2.3"));
    EXPECT_EQ(m_rows.progress(0), 100);
    EXPECT_FALSE(m_lines->LineTimerActive(0));
    EXPECT_EQ(counts(), QStringLiteral("1/1 1/1"));
    EXPECT_EQ(m_rows.countersShown(), 1);
    EXPECT_TRUE(m_data.read(QStringLiteral("rqvtcsv123.txt")).endsWith(", Y\r\n"));
    // Workers' row changes (the verification texts) arrived on the window thread.
    EXPECT_EQ(m_rows.offWindowThread(), 0);
}

TEST_F(LineControllerTest, NonzeroAndNegativeResultsFail)
{
    startReady(2);
    m_engine.setDownload([](ScriptedEngine& e, int line, int) { e.result(line, line == 0 ? 7 : -1); });
    m_lines->StartAllLines();
    waitLineIdle(0);
    waitLineIdle(1);
    EXPECT_EQ(m_rows.badge(0), BADGE_FAIL);
    EXPECT_EQ(m_rows.badge(1), BADGE_FAIL);
    EXPECT_EQ(m_rows.info(1), text("IDC_EXE_INFO_DOWNLOADFAIL"));
    EXPECT_EQ(m_rows.item(LINE_ITEM_VERSION, 0), QStringLiteral("ABC_DE_V1.0"));
    EXPECT_EQ(counts(), QStringLiteral("0/2 0/2"));
    EXPECT_TRUE(m_data.read(QStringLiteral("rqvtcsv123.txt")).endsWith(", N\r\n"));
}

TEST_F(LineControllerTest, TwoResultsCountOnce)
{
    startReady();
    m_engine.setDownload([](ScriptedEngine& e, int line, int) {
        e.result(line, 0);
        e.result(line, 0);
    });
    m_lines->StartLine(0);
    waitLineIdle(0);
    EXPECT_EQ(counts(), QStringLiteral("1/1 1/1"));
}

TEST_F(LineControllerTest, LineWithoutAnOfferedDeviceDoesNotStart)
{
    start("3", makePackage());
    m_lines->StartLine(0);
    m_lines->StartAllLines();
    EXPECT_EQ(m_rows.badge(0), BADGE_OPEN);
    EXPECT_EQ(m_engine.downloads(), 0);
    EXPECT_EQ(m_prompter.records().size(), 0);
}

TEST_F(LineControllerTest, StartAllWithoutVersionDirectoryWarnsOnce)
{
    plug(3);
    start("3,4", QString());
    m_prompter.expectMessage();
    m_lines->StartAllLines();
    EXPECT_EQ(m_prompter.messageTexts(), QStringList{text("IDC_EXE_INFO_VERSIONPATHNULL")});
    EXPECT_EQ(m_engine.downloads(), 0);
}

TEST_F(LineControllerTest, StartAllStartsOnlyEnabledLinesAndRefusesWhileRunning)
{
    startReady(3);
    m_engine.removeDevice(4);
    m_engine.deviceChanged();
    Gate gate;
    holdDownloads(gate);
    m_lines->StartAllLines();
    EXPECT_EQ(m_rows.badge(0), BADGE_RUNNING);
    EXPECT_EQ(m_rows.badge(1), BADGE_OPEN);
    EXPECT_EQ(m_rows.badge(2), BADGE_RUNNING);
    EXPECT_TRUE(m_lines->AnyLineBusy());
    m_prompter.expectMessage();
    m_lines->StartAllLines();
    EXPECT_EQ(m_prompter.messageTexts(), QStringList{text("IDC_EXE_INFO_RUNNING")});
    gate.open();
    waitLineIdle(0);
    waitLineIdle(2);
    EXPECT_FALSE(m_lines->AnyLineBusy());
}

// A line keeps its offer while it runs; a second start of it must not run
// a second download on the same port.
TEST_F(LineControllerTest, ARunningLineIsNotStartedAgain)
{
    startReady(1);
    Gate gate;
    holdDownloads(gate);
    m_lines->StartLine(0);
    ASSERT_TRUE(waitFor([&] { return m_engine.downloads() == 1; }));
    m_lines->StartLine(0);
    EXPECT_EQ(m_lines->LiveWorkers(), 1);
    gate.open();
    waitLineIdle(0);
    EXPECT_EQ(m_engine.downloads(), 1);
    EXPECT_EQ(m_rows.badge(0), BADGE_PASS);
}

TEST_F(LineControllerTest, LineIsOfferedAgainOnlyAfterItsDeviceWasGone)
{
    startReady();
    m_lines->StartLine(0);
    waitLineIdle(0);
    m_engine.deviceChanged(1);
    EXPECT_EQ(m_rows.badge(0), BADGE_PASS);
    EXPECT_FALSE(m_lines->LineStateOf(0).enabled);
    m_engine.removeDevice(3);
    m_engine.deviceChanged(1);
    EXPECT_EQ(m_rows.badge(0), BADGE_OPEN);
    EXPECT_EQ(m_rows.info(0), text("IDC_EXE_INFO_NODEVICE"));
    EXPECT_EQ(m_rows.item(LINE_ITEM_ELAPSED, 0), QStringLiteral("0:00"));
    EXPECT_EQ(m_rows.progress(0), 0);
    plug(3);
    m_engine.deviceChanged(1);
    EXPECT_EQ(m_rows.badge(0), BADGE_READY);
}

TEST_F(LineControllerTest, OfferZeroOnlyClearsEnabled)
{
    start("3", QString());
    EXPECT_EQ(m_rows.info(0), text("IDC_EXE_INFO_NODEVICE"));
    plug(3);
    m_engine.deviceChanged(0);
    EXPECT_EQ(m_rows.badge(0), BADGE_OPEN);
    EXPECT_EQ(m_rows.info(0), text("IDC_EXE_INFO_NODEVICE"));
    EXPECT_FALSE(m_lines->LineStateOf(0).enabled);
}

TEST_F(LineControllerTest, ArmModeKeepsClockAndBar)
{
    startReady();
    m_engine.setDownload([](ScriptedEngine& e, int line, int) {
        e.progress(line, 40);
        e.result(line, 1);
    });
    m_lines->StartLine(0);
    waitLineIdle(0);
    m_rows.SetLineItem(LINE_ITEM_ELAPSED, 0, QStringLiteral("0:42"));
    m_engine.setDevice(3, 1, "");
    m_engine.deviceChanged(1);
    EXPECT_EQ(m_rows.info(0), text("IDC_EXE_INFO_PHONEINARMMODE"));
    EXPECT_EQ(m_rows.item(LINE_ITEM_ELAPSED, 0), QStringLiteral("0:42"));
    EXPECT_EQ(m_rows.progress(0), 40);
    EXPECT_EQ(m_rows.item(LINE_ITEM_IMEI, 0), QString());
    EXPECT_TRUE(m_lines->LineStateOf(0).devicePresent);
}

TEST_F(LineControllerTest, UnboundLinesAreShownEmptyAndKeepTheirFlags)
{
    start("0,3", QString());
    for (int line : {0, 2, 7}) {
        EXPECT_EQ(m_rows.badge(line), BADGE_OPEN);
        EXPECT_EQ(m_rows.item(LINE_ITEM_ELAPSED, line), QStringLiteral("0:00"));
        EXPECT_EQ(m_rows.info(line), QString());
    }
    EXPECT_EQ(m_rows.item(LINE_ITEM_PORT, 1), QStringLiteral("USB_3"));
    EXPECT_EQ(m_engine.queries(), 1); // only the bound line asks the engine
}

TEST_F(LineControllerTest, DeviceTextAfterTwoCommasIsTheImei)
{
    plug(3, "A,B,C,D");
    start("3", QString());
    EXPECT_EQ(m_rows.item(LINE_ITEM_IMEI, 0), QStringLiteral("C,D"));
    EXPECT_EQ(m_rows.item(LINE_ITEM_VERSION, 0), QStringLiteral("A"));
    EXPECT_EQ(m_lines->LineStateOf(0).device.internalVersion, QByteArray("B"));
}

TEST_F(LineControllerTest, ElapsedTimeFormat)
{
    startReady();
    Gate gate;
    holdDownloads(gate);
    m_lines->StartLine(0);
    const std::pair<int, const char*> cases[] = {{9, "0:09"}, {10, "0:10"}, {60, "1:00"}, {600, "10:00"}, {3700, "61:40"}};
    int ticks = 0;
    for (const auto& [seconds, shown] : cases) {
        for (; ticks < seconds; ++ticks)
            m_lines->OnLineTimer(0);
        EXPECT_EQ(m_rows.item(LINE_ITEM_ELAPSED, 0), QString::fromLatin1(shown));
    }
    gate.open();
    waitLineIdle(0);
}

TEST_F(LineControllerTest, ProgressAndMessagesReachTheRowAndTheLastMessageIsKept)
{
    startReady();
    Gate gate;
    m_engine.setDownload([&](ScriptedEngine& e, int line, int) {
        e.message(line, "Writing system.img");
        e.progress(line, 37);
        gate.wait();
        e.message(line, "Checksum mismatch");
        e.progress(line, 0);
        e.result(line, 5);
    });
    m_lines->StartLine(0);
    ASSERT_TRUE(waitFor([&] { return m_rows.progress(0) == 37; }));
    EXPECT_EQ(m_rows.info(0), QStringLiteral("Writing system.img"));
    gate.open();
    waitLineIdle(0);
    EXPECT_EQ(m_rows.progress(0), 0);
    EXPECT_EQ(m_rows.info(0), text("IDC_EXE_INFO_DOWNLOADFAIL"));
    EXPECT_EQ(m_lines->LineStateOf(0).lastMessage, QStringLiteral("Checksum mismatch"));
}

TEST_F(LineControllerTest, FailureReasonStaysAsTooltipUntilTheLineIsOfferedAgain)
{
    startReady();
    m_engine.setDownload([](ScriptedEngine& e, int line, int) {
        e.message(line, "Connection to the device lost");
        e.result(line, 4);
    });
    m_lines->StartLine(0);
    waitLineIdle(0);
    EXPECT_EQ(m_rows.info(0), text("IDC_EXE_INFO_DOWNLOADFAIL"));
    EXPECT_EQ(m_rows.item(LINE_ITEM_INFO_TIP, 0), QStringLiteral("Connection to the device lost"));
    m_engine.removeDevice(3);
    m_engine.deviceChanged(1);
    EXPECT_EQ(m_rows.item(LINE_ITEM_INFO_TIP, 0), QStringLiteral("Connection to the device lost"));
    plug(3);
    m_engine.deviceChanged(1);
    EXPECT_EQ(m_rows.badge(0), BADGE_READY);
    EXPECT_EQ(m_rows.item(LINE_ITEM_INFO_TIP, 0), QString());
}

TEST_F(LineControllerTest, EngineMessageOnAnIdleLineStaysAsTooltip)
{
    startReady();
    // The engine cannot use the device now and says why, then reports it not ready.
    m_engine.message(0, "The USB device is in use by another program");
    m_engine.setDevice(3, 2);
    m_engine.deviceChanged(1);
    EXPECT_EQ(m_rows.info(0), text("IDC_EXE_INFO_PHONEINARMMODE"));
    EXPECT_EQ(m_rows.item(LINE_ITEM_INFO_TIP, 0), QStringLiteral("The USB device is in use by another program"));
    m_engine.removeDevice(3);
    m_engine.deviceChanged(1);
    plug(3);
    m_engine.deviceChanged(1);
    EXPECT_EQ(m_rows.badge(0), BADGE_READY);
    EXPECT_EQ(m_rows.item(LINE_ITEM_INFO_TIP, 0), QString());
}

TEST_F(LineControllerTest, FailedThreadStartGivesTheLineBack)
{
    startReady();
    LineWorker::FailNextStartForTest();
    m_prompter.expectMessage();
    m_lines->StartLine(0);
    EXPECT_EQ(m_prompter.messageTexts(), QStringList{QStringLiteral("Thread begin error!")});
    EXPECT_FALSE(m_lines->AnyLineBusy());
    EXPECT_FALSE(m_lines->LineTimerActive(0));
    EXPECT_EQ(m_rows.badge(0), BADGE_READY);
    EXPECT_TRUE(m_rows.buttonEnabled(0));
    EXPECT_EQ(m_lines->LiveWorkers(), 0);
}

TEST_F(LineControllerTest, VerificationFailureIsNeitherCountedNorRecorded)
{
    plug(3, "XYZ_V1.0,XYZ_INT_V1.0,356938035643809");
    plug(4, "ABC_DE_V1.0,ABC_DE_INT_V1.0,000000000000000");
    start("3,4", makePackage());
    const QByteArray log = m_data.read(QStringLiteral("rqvtcsv123.ds.dll"));
    m_lines->StartAllLines();
    waitLineIdle(0);
    waitLineIdle(1);
    EXPECT_EQ(m_rows.badge(0), BADGE_FAIL);
    EXPECT_EQ(m_rows.info(0), text("IDC_EXE_INFO_MATCHVERSIONERROR"));
    EXPECT_EQ(m_rows.info(1), text("IDC_EXE_INFO_IMEIERROR"));
    EXPECT_FALSE(m_lines->LineTimerActive(0));
    EXPECT_FALSE(m_lines->LineStateOf(0).enabled);
    EXPECT_EQ(m_engine.downloads(), 0);
    EXPECT_EQ(counts(), QStringLiteral("0/0 0/0"));
    EXPECT_EQ(m_rows.countersShown(), 0);
    EXPECT_EQ(m_data.read(QStringLiteral("rqvtcsv123.ds.dll")), log);
    EXPECT_EQ(m_rows.offWindowThread(), 0);
}

TEST_F(LineControllerTest, UnknownPackageVersionFailsAfterTheWait)
{
    m_versionWait = std::chrono::milliseconds(300);
    plug(3);
    m_station.write(QStringLiteral("empty/system.img"), QByteArray(4096, 'x'));
    start("3", m_station.file(QStringLiteral("empty")));
    m_lines->StartLine(0);
    waitLineIdle(0);
    EXPECT_EQ(m_rows.info(0), text("IDC_EXE_INFO_FILEVERSIONERROR"));
    EXPECT_EQ(m_rows.badge(0), BADGE_FAIL);
}

// Start on plug-in: the delay counts by the clock from the offer; the
// timer's expiry is called directly, as the line timer's tick is above.
TEST_F(LineControllerTest, AutoStartStartsAPluggedUnitOnceAfterTheDelay)
{
    m_autoStart = true;
    passDownloads();
    startReady();
    EXPECT_TRUE(m_lines->AutoStartPending(0));
    advanceClock(1000);
    m_lines->OnAutoStartTimer(0);
    EXPECT_EQ(m_engine.downloads(), 0);
    EXPECT_EQ(m_rows.badge(0), BADGE_READY);
    advanceClock(500);
    m_lines->OnAutoStartTimer(0);
    waitLineIdle(0);
    EXPECT_EQ(m_engine.downloads(), 1);
    EXPECT_EQ(m_rows.badge(0), BADGE_PASS);
    EXPECT_EQ(counts(), QStringLiteral("1/1 1/1"));

    // The finished unit stays in its socket: it is neither offered nor started again.
    m_engine.deviceChanged(1);
    EXPECT_FALSE(m_lines->AutoStartPending(0));
    advanceClock(60000);
    m_lines->OnAutoStartTimer(0);
    EXPECT_EQ(m_engine.downloads(), 1);
    EXPECT_EQ(m_rows.badge(0), BADGE_PASS);

    // Pulled, and the next unit plugged: that one starts after the delay.
    m_engine.removeDevice(3);
    m_engine.deviceChanged(1);
    plug(3);
    m_engine.deviceChanged(1);
    EXPECT_TRUE(m_lines->AutoStartPending(0));
    advanceClock(1500);
    m_lines->OnAutoStartTimer(0);
    waitLineIdle(0);
    EXPECT_EQ(m_engine.downloads(), 2);
}

TEST_F(LineControllerTest, AutoStartWaitsForAUnitThatFlapsDuringTheDelay)
{
    m_autoStart = true;
    passDownloads();
    startReady();
    advanceClock(1000);
    // Contacts bounce while the unit is pushed in: gone, back.
    m_engine.removeDevice(3);
    m_engine.deviceChanged(1);
    EXPECT_FALSE(m_lines->AutoStartPending(0));
    plug(3);
    m_engine.deviceChanged(1);
    advanceClock(600); // 1.6 s since the first offer, 0.6 s since the last
    m_lines->OnAutoStartTimer(0);
    EXPECT_EQ(m_engine.downloads(), 0);
    EXPECT_TRUE(m_lines->AutoStartPending(0));

    // Not ready for a moment: the offer is used up until the unit leaves.
    m_engine.setDevice(3, 2);
    m_engine.deviceChanged(1);
    plug(3);
    m_engine.deviceChanged(1);
    EXPECT_FALSE(m_lines->AutoStartPending(0));
    advanceClock(5000);
    m_lines->OnAutoStartTimer(0);
    EXPECT_EQ(m_engine.downloads(), 0);
    EXPECT_EQ(m_lines->LiveWorkers(), 0);
}

TEST_F(LineControllerTest, AutoStartAsksThePortAgainAndWaitsWhileHeld)
{
    m_autoStart = true;
    passDownloads();
    startReady(2);
    bool open = false;
    m_lines->SetAutoStartGate([&] { return open; });
    // Pulled without a device event yet: the last look at the port finds it empty.
    m_engine.removeDevice(3);
    advanceClock(1500);
    m_lines->OnAutoStartTimer(0);
    m_lines->OnAutoStartTimer(1);
    EXPECT_EQ(m_rows.info(0), text("IDC_EXE_INFO_CLICKSTARTBTN")); // held: not even asked yet
    EXPECT_EQ(m_engine.downloads(), 0);
    open = true;
    m_lines->OnAutoStartTimer(0);
    m_lines->OnAutoStartTimer(1);
    waitLineIdle(1);
    EXPECT_EQ(m_rows.info(0), text("IDC_EXE_INFO_NODEVICE"));
    EXPECT_EQ(m_engine.downloadCalls(), (std::vector<std::pair<int, int>>{{1, 4}}));

    // Off: a plugged unit waits for its button.
    m_lines->SetAutoStart(false, std::chrono::milliseconds(1500));
    plug(3);
    m_engine.deviceChanged(1);
    EXPECT_EQ(m_rows.badge(0), BADGE_READY);
    EXPECT_FALSE(m_lines->AutoStartPending(0));
}

TEST_F(LineControllerTest, SecondUnitWithTheSameImeiIsRefusedAndNeitherCountedNorRecorded)
{
    passDownloads();
    plug(3);
    plug(4); // the same IMEI
    plug(5, "ABC_DE_V1.0,ABC_DE_INT_V1.0,356938035643817");
    start("3,4,5", makePackage());
    // The later unit is the duplicate, also when its line is started first.
    m_lines->StartLine(1);
    waitLineIdle(1);
    EXPECT_EQ(m_rows.badge(1), BADGE_FAIL);
    EXPECT_EQ(m_rows.info(1), text("IDC_EXE_INFO_DUPLICATEIMEI"));
    EXPECT_EQ(m_rows.item(LINE_ITEM_INFO_TIP, 1), text("IDC_EXE_INFO_DUPLICATEIMEI") + QStringLiteral(": 1. USB_3"));
    EXPECT_EQ(counts(), QStringLiteral("0/0 0/0"));
    EXPECT_EQ(records(), 0);

    m_lines->StartAllLines();
    waitLineIdle(0);
    waitLineIdle(2);
    EXPECT_EQ(m_rows.badge(0), BADGE_PASS);
    EXPECT_EQ(m_rows.badge(2), BADGE_PASS);
    EXPECT_EQ(sortedDownloads(), (std::vector<std::pair<int, int>>{{0, 3}, {2, 5}}));
    EXPECT_EQ(counts(), QStringLiteral("2/2 2/2"));
    EXPECT_EQ(records(), 2);
    EXPECT_EQ(m_rows.offWindowThread(), 0);

    // Once the first unit has left, the second is alone with its IMEI.
    m_engine.removeDevice(3);
    m_engine.deviceChanged(1);
    m_engine.removeDevice(4);
    m_engine.deviceChanged(1);
    plug(4);
    m_engine.deviceChanged(1);
    m_lines->StartLine(1);
    waitLineIdle(1);
    EXPECT_EQ(m_rows.badge(1), BADGE_PASS);
}

TEST_F(LineControllerTest, DuplicateImeiCheckOffLetsBothUnitsThrough)
{
    m_dupImeiCheck = false;
    expectSameImeiUnitsBothPass();
}

TEST_F(LineControllerTest, DLModeSkipsTheDuplicateImeiCheckWithTheRest)
{
    m_skipVerification = true;
    expectSameImeiUnitsBothPass();
}

TEST_F(LineControllerTest, DailyLogHasEveryStepOfALineWithPortAndImei)
{
    useLog();
    m_engine.setDownload([](ScriptedEngine& e, int line, int) {
        e.message(line, "Writing system.img\x1b[2J\r\nPASS");
        e.result(line, line == 0 ? 0 : 4);
    });
    plug(3);
    plug(4, "ABC_DE_V1.0,ABC_DE_INT_V1.0,356938035643817");
    plug(5, "XYZ_V1.0,XYZ_INT_V1.0,356938035643825");
    start("3,4,5", makePackage());
    ASSERT_TRUE(waitFor([&] { return !m_reader->internalVersion().isEmpty(); }));
    m_lines->StartAllLines();
    waitLineIdle(0);
    waitLineIdle(1);
    waitLineIdle(2);
    m_engine.removeDevice(3);
    m_engine.deviceChanged(1);

    const QStringList lines = QString::fromUtf8(todaysLog()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    const QString at = QStringLiteral("2026-12-07 09:35:10.000 ");
    const QString first = at + QStringLiteral("line 1 USB_3 IMEI 356938035643809 ");
    for (const QString& expected : {
             first + QStringLiteral("ready: ABC_DE_V1.0, ABC_DE_INT_V1.0"),
             first + QStringLiteral("start, package ABC_DE_V2.3"),
             // A device's control characters cannot make a line of their own.
             first + QStringLiteral("engine: Writing system.img\\x1b[2J\\x0d\\x0aPASS"),
             first + QStringLiteral("result: PASS, engine code 0, 0:00"),
             first + QStringLiteral("no device"),
             at + QStringLiteral("line 2 USB_4 IMEI 356938035643817 result: FAIL, engine code 4, 0:00"),
             at + QStringLiteral("line 3 USB_5 IMEI 356938035643825 refused: ") + text("IDC_EXE_INFO_MATCHVERSIONERROR"),
         })
        EXPECT_TRUE(lines.contains(expected)) << expected.toStdString() << "\n" << lines.join('\n').toStdString();
    for (const QString& line : lines)
        EXPECT_TRUE(line.startsWith(at)) << line.toStdString();
    EXPECT_EQ(lines.filter(QStringLiteral("line 1 ")).size(), 5);
}

TEST_F(LineControllerTest, DailyLogKeepsOneSpeedMessageInTenSeconds)
{
    useLog();
    plug(3);
    start("3", makePackage());
    for (int i = 0; i < 30; ++i) {
        m_lines->OnLineMessage(QStringLiteral("Writing system.img: %1.0 MB/s, 0:%2 left").arg(30 + i).arg(40 - i).toUtf8().constData(), 0);
        advanceClock(500);
    }
    m_lines->OnLineMessage("Writing vendor.img", 0);
    m_lines->OnLineMessage("The device refused \"flash:vendor\": no space", 0);

    const QStringList lines = QString::fromUtf8(todaysLog()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    const QStringList speeds = lines.filter(QStringLiteral("engine: Writing system.img: "));
    ASSERT_EQ(speeds.size(), 2) << lines.join('\n').toStdString();
    EXPECT_TRUE(speeds[0].endsWith(QStringLiteral("30.0 MB/s, 0:40 left")));
    EXPECT_TRUE(speeds[1].endsWith(QStringLiteral("50.0 MB/s, 0:20 left")));
    EXPECT_EQ(lines.filter(QStringLiteral("engine: Writing vendor.img")).size(), 1);
    EXPECT_EQ(lines.filter(QStringLiteral("no space")).size(), 1);
}

TEST_F(LineControllerTest, LogWriteFailureLeavesTheDownloadAndItsRecordIntact)
{
    useLog();
    // A full disk: every write of the day's log fails with ENOSPC.
    const QString file = m_data.path() + QStringLiteral("logs/") + StationLog::FileName(m_clock.now().date());
    ASSERT_TRUE(QDir().mkpath(m_data.path() + QStringLiteral("logs")));
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/full"), file));
    m_engine.setDownload([](ScriptedEngine& e, int line, int) {
        e.message(line, "Writing system.img");
        e.result(line, 0);
    });
    startReady();
    m_lines->StartLine(0);
    waitLineIdle(0);
    ASSERT_TRUE(m_log->Flush(std::chrono::seconds(10)));
    EXPECT_GT(m_log->LostLines(), 0u);
    EXPECT_EQ(m_rows.badge(0), BADGE_PASS);
    EXPECT_EQ(counts(), QStringLiteral("1/1 1/1"));
    EXPECT_EQ(records(), 1);
    EXPECT_TRUE(m_data.read(QStringLiteral("rqvtcsv123.txt")).endsWith(", Y\r\n"));

    // Room again: the log goes on, saying what it lost.
    ASSERT_TRUE(QFile::remove(file));
    m_engine.message(0, "after");
    const QByteArray log = todaysLog();
    EXPECT_TRUE(log.contains(" lines lost (")) << log.constData();
    EXPECT_TRUE(log.contains("engine: after")) << log.constData();
}

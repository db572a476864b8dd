#include "WindowFixture.h"

#include "lines/LineWorker.h"
#include "records/RecordCipher.h"
#include "settings/VersionFileReader.h"

#include <QTest>

#include <atomic>
#include <condition_variable>
#include <mutex>

using namespace MainWindowLayout;

namespace {
// Holds a scripted download until the test lets it go.
class Gate
{
public:
    void open()
    {
        std::lock_guard lock(m_mutex);
        m_open = true;
        m_cv.notify_all();
    }
    void wait()
    {
        std::unique_lock lock(m_mutex);
        m_cv.wait(lock, [&] { return m_open; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_open = false;
};
} // namespace

class MainDialogLines : public WindowFixture
{
protected:
    // Lines 1..n bound to ports 3, 4, ..., a package chosen and read.
    bool openReady(int lines = 1)
    {
        QByteArray ports;
        for (int i = 0; i < lines; ++i) {
            ports += (i ? "," : "") + QByteArray::number(3 + i);
            plug(3 + i);
        }
        const QString package = makePackage();
        writeConfig("[GET_DLL_Setting]\nPORTS=" + ports + "\nITEM_VERSIONFILE_PATH=" + package.toUtf8() + "\n");
        if (!open())
            return false;
        return waitFor([&] { return !m_window->versionReader().internalVersion().isEmpty(); });
    }
    QString counts() const { return label(IdSuccessCounts)->text() + QLatin1Char(' ') + label(IdTotalCounts)->text(); }
    // Downloads wait at the gate, then pass.
    void holdDownloads(Gate& gate)
    {
        m_engine.setDownload([&gate](ScriptedEngine& e, int line, int) {
            gate.wait();
            e.result(line, 0);
        });
    }
};

TEST_F(MainDialogLines, ReadyDeviceIsOfferedAtStart)
{
    ASSERT_TRUE(openReady());
    EXPECT_EQ(badge(0), QStringLiteral("READY"));
    EXPECT_TRUE(button(ids(0).button)->isEnabled());
    EXPECT_EQ(label(ids(0).imei)->text(), QStringLiteral("356938035643809"));
    EXPECT_EQ(label(ids(0).version)->text(), QStringLiteral("ABC_DE_V1.0"));
    EXPECT_EQ(infoText(0), text("IDC_EXE_INFO_CLICKSTARTBTN"));
    EXPECT_EQ(infoText(1), QString()); // no port bound
}

TEST_F(MainDialogLines, PassedDownloadShowsPackageVersionCountsAndRecords)
{
    ASSERT_TRUE(openReady());
    QTest::mouseClick(button(ids(0).button), Qt::LeftButton);
    EXPECT_EQ(badge(0), QStringLiteral("RUNNING"));
    EXPECT_TRUE(m_window->lineTimerActive(0));
    waitLineIdle(0);
    EXPECT_EQ(badge(0), QStringLiteral("PASS"));
    EXPECT_EQ(infoText(0), text("IDC_EXE_INFO_DOWNLOADSUCC"));
    EXPECT_EQ(label(ids(0).version)->text(), QStringLiteral("ABC_DE_V2.3"));
    EXPECT_EQ(label(ids(0).percent)->text(), QStringLiteral("100/100"));
    EXPECT_FALSE(m_window->lineTimerActive(0));
    EXPECT_FALSE(button(ids(0).button)->isEnabled());
    EXPECT_EQ(counts(), QStringLiteral("1/1 1/1"));
    EXPECT_EQ(m_engine.downloadCalls(), (std::vector<std::pair<int, int>>{{0, 3}}));
    EXPECT_TRUE(m_data.read(QStringLiteral("rqvtcsv123.txt")).endsWith(", Y\r\n"));
}

TEST_F(MainDialogLines, NonzeroAndNegativeResultsFail)
{
    ASSERT_TRUE(openReady(2));
    m_engine.setDownload([](ScriptedEngine& e, int line, int) { e.result(line, line == 0 ? 7 : -1); });
    m_window->StartAllLines();
    waitLineIdle(0);
    waitLineIdle(1);
    EXPECT_EQ(badge(0), QStringLiteral("FAIL"));
    EXPECT_EQ(badge(1), QStringLiteral("FAIL"));
    EXPECT_EQ(infoText(1), text("IDC_EXE_INFO_DOWNLOADFAIL"));
    EXPECT_EQ(label(ids(0).version)->text(), QStringLiteral("ABC_DE_V1.0"));
    EXPECT_EQ(counts(), QStringLiteral("0/2 0/2"));
}

TEST_F(MainDialogLines, TwoResultsCountOnce)
{
    ASSERT_TRUE(openReady());
    m_engine.setDownload([](ScriptedEngine& e, int line, int) {
        e.result(line, 0);
        e.result(line, 0);
    });
    m_window->StartLine(0);
    waitLineIdle(0);
    EXPECT_EQ(counts(), QStringLiteral("1/1 1/1"));
}

TEST_F(MainDialogLines, ButtonOfAnUnofferedLineDoesNothing)
{
    ASSERT_TRUE(openWithPorts("3"));
    QTest::mouseClick(button(ids(0).button), Qt::LeftButton);
    m_window->StartLine(0);
    EXPECT_EQ(badge(0), QStringLiteral("OPEN"));
    EXPECT_EQ(m_engine.downloads(), 0);
}

TEST_F(MainDialogLines, StartAllRules)
{
    plug(3);
    ASSERT_TRUE(openWithPorts("3,4"));
    m_prompter.expectMessage();
    m_window->StartAllLines();
    EXPECT_EQ(m_prompter.messageTexts(), QStringList{text("IDC_EXE_INFO_VERSIONPATHNULL")});
    EXPECT_EQ(m_engine.downloads(), 0);
}

TEST_F(MainDialogLines, StartAllStartsOnlyEnabledLinesAndRefusesWhileRunning)
{
    ASSERT_TRUE(openReady(3));
    m_engine.removeDevice(4);
    m_engine.deviceChanged();
    Gate gate;
    holdDownloads(gate);
    m_window->StartAllLines();
    EXPECT_EQ(badge(0), QStringLiteral("RUNNING"));
    EXPECT_EQ(badge(1), QStringLiteral("OPEN"));
    EXPECT_EQ(badge(2), QStringLiteral("RUNNING"));
    m_prompter.expectMessage();
    m_window->StartAllLines();
    EXPECT_EQ(m_prompter.messageTexts(), QStringList{text("IDC_EXE_INFO_RUNNING")});
    gate.open();
    waitLineIdle(0);
    waitLineIdle(2);
}

TEST_F(MainDialogLines, OnlyTheHiddenEighthLineMakesTheWindowBusy)
{
    plug(9);
    const QString package = makePackage();
    writeConfig("[GET_DLL_Setting]\nPORTS=0,0,0,0,0,0,0,9\nITEM_VERSIONFILE_PATH=" + package.toUtf8() + "\n");
    ASSERT_TRUE(open());
    EXPECT_FALSE(m_window->AnyLineBusy());
    Gate gate;
    holdDownloads(gate);
    m_window->StartLine(7);
    EXPECT_TRUE(m_window->AnyLineBusy());
    m_prompter.expectMessage();
    m_window->close();
    EXPECT_EQ(m_prompter.messageTexts(), QStringList{text("IDC_EXE_INFO_RUNNING")});
    EXPECT_EQ(s_exitCalls, 0);
    gate.open();
    waitLineIdle(7);
    EXPECT_FALSE(m_window->AnyLineBusy());
}

TEST_F(MainDialogLines, LineIsOfferedAgainOnlyAfterItsDeviceWasGone)
{
    ASSERT_TRUE(openReady());
    m_window->StartLine(0);
    waitLineIdle(0);
    m_engine.deviceChanged(1);
    EXPECT_EQ(badge(0), QStringLiteral("PASS"));
    EXPECT_FALSE(m_window->lineState(0).enabled);
    m_engine.removeDevice(3);
    m_engine.deviceChanged(1);
    EXPECT_EQ(badge(0), QStringLiteral("OPEN"));
    EXPECT_EQ(infoText(0), text("IDC_EXE_INFO_NODEVICE"));
    EXPECT_EQ(label(ids(0).elapsed)->text(), QStringLiteral("0:00"));
    EXPECT_EQ(label(ids(0).percent)->text(), QStringLiteral("0/100"));
    plug(3);
    m_engine.deviceChanged(1);
    EXPECT_EQ(badge(0), QStringLiteral("READY"));
}

TEST_F(MainDialogLines, OfferZeroOnlyClearsEnabled)
{
    ASSERT_TRUE(openWithPorts("3"));
    EXPECT_EQ(infoText(0), text("IDC_EXE_INFO_NODEVICE"));
    plug(3);
    m_engine.deviceChanged(0);
    EXPECT_EQ(badge(0), QStringLiteral("OPEN"));
    EXPECT_EQ(infoText(0), text("IDC_EXE_INFO_NODEVICE"));
    EXPECT_FALSE(m_window->lineState(0).enabled);
}

TEST_F(MainDialogLines, ArmModeKeepsClockAndBar)
{
    ASSERT_TRUE(openReady());
    m_engine.setDownload([](ScriptedEngine& e, int line, int) {
        e.progress(line, 40);
        e.result(line, 1);
    });
    m_window->StartLine(0);
    waitLineIdle(0);
    m_window->SetLineItem(LINE_ITEM_ELAPSED, 0, QStringLiteral("0:42"));
    m_engine.setDevice(3, 1, "");
    m_engine.deviceChanged(1);
    EXPECT_EQ(infoText(0), text("IDC_EXE_INFO_PHONEINARMMODE"));
    EXPECT_EQ(label(ids(0).elapsed)->text(), QStringLiteral("0:42"));
    EXPECT_EQ(bar(ids(0).progress)->value(), 40);
    EXPECT_EQ(label(ids(0).imei)->text(), QString());
    EXPECT_TRUE(m_window->lineState(0).devicePresent);
}

TEST_F(MainDialogLines, DeviceTextAfterTwoCommasIsTheImei)
{
    plug(3, "A,B,C,D");
    ASSERT_TRUE(openWithPorts("3"));
    EXPECT_EQ(label(ids(0).imei)->text(), QStringLiteral("C,D"));
    EXPECT_EQ(label(ids(0).version)->text(), QStringLiteral("A"));
    EXPECT_EQ(m_window->lineState(0).device.internalVersion, QByteArray("B"));
}

TEST_F(MainDialogLines, ElapsedTimeFormat)
{
    ASSERT_TRUE(openReady());
    Gate gate;
    holdDownloads(gate);
    m_window->StartLine(0);
    const std::pair<int, const char*> cases[] = {{9, "0:09"}, {10, "0:10"}, {60, "1:00"}, {600, "10:00"}, {3700, "61:40"}};
    int ticks = 0;
    for (const auto& [seconds, shown] : cases) {
        for (; ticks < seconds; ++ticks)
            m_window->OnTimer(0);
        EXPECT_EQ(label(ids(0).elapsed)->text(), QString::fromLatin1(shown));
    }
    gate.open();
    waitLineIdle(0);
}

TEST_F(MainDialogLines, WallClockFormat)
{
    ASSERT_TRUE(open());
    EXPECT_EQ(label(IdClock)->text(), QString()); // empty until the first tick
    m_clock.set(QDateTime(QDate(2026, 3, 7), QTime(9, 5, 3)));
    m_window->OnTimer(MainDialog::kClockTimer);
    EXPECT_EQ(label(IdClock)->text(), QStringLiteral("03/07/2026 09:05:03"));
}

TEST_F(MainDialogLines, ProgressAndMessagesReachTheRow)
{
    ASSERT_TRUE(openReady());
    std::atomic<bool> checked{false};
    Gate gate;
    m_engine.setDownload([&](ScriptedEngine& e, int line, int) {
        e.message(line, "Writing system.img");
        e.progress(line, 37);
        gate.wait();
        e.progress(line, 0);
        e.result(line, 0);
    });
    m_window->StartLine(0);
    ASSERT_TRUE(waitFor([&] { return label(ids(0).percent)->text() == QStringLiteral("37/100"); }));
    EXPECT_EQ(infoText(0), QStringLiteral("Writing system.img"));
    EXPECT_EQ(bar(ids(0).progress)->value(), 37);
    gate.open();
    waitLineIdle(0);
    EXPECT_EQ(label(ids(0).percent)->text(), QStringLiteral("0/100"));
}

TEST_F(MainDialogLines, FailedThreadStartGivesTheLineBack)
{
    ASSERT_TRUE(openReady());
    LineWorker::failNextStartForTest();
    m_prompter.expectMessage();
    m_window->StartLine(0);
    EXPECT_EQ(m_prompter.messageTexts(), QStringList{QStringLiteral("Thread begin error!")});
    EXPECT_FALSE(m_window->AnyLineBusy());
    EXPECT_FALSE(m_window->lineTimerActive(0));
    EXPECT_EQ(badge(0), QStringLiteral("READY"));
    EXPECT_TRUE(button(ids(0).button)->isEnabled());
    m_window->close();
    EXPECT_EQ(s_exitCalls, 1);
}

TEST_F(MainDialogLines, VerificationFailureIsNeitherCountedNorRecorded)
{
    plug(3, "XYZ_V1.0,XYZ_INT_V1.0,356938035643809");
    plug(4, "ABC_DE_V1.0,ABC_DE_INT_V1.0,000000000000000");
    const QString package = makePackage();
    writeConfig("[GET_DLL_Setting]\nPORTS=3,4\nITEM_VERSIONFILE_PATH=" + package.toUtf8() + "\n");
    ASSERT_TRUE(open());
    const QByteArray log = m_data.read(QStringLiteral("rqvtcsv123.ds.dll"));
    m_window->StartAllLines();
    waitLineIdle(0);
    waitLineIdle(1);
    EXPECT_EQ(badge(0), QStringLiteral("FAIL"));
    EXPECT_EQ(infoText(0), text("IDC_EXE_INFO_MATCHVERSIONERROR"));
    EXPECT_EQ(infoText(1), text("IDC_EXE_INFO_IMEIERROR"));
    EXPECT_FALSE(m_window->lineTimerActive(0));
    EXPECT_EQ(m_engine.downloads(), 0);
    EXPECT_EQ(counts(), QStringLiteral("0/0 0/0"));
    EXPECT_EQ(m_data.read(QStringLiteral("rqvtcsv123.ds.dll")), log);
}

TEST_F(MainDialogLines, UnknownPackageVersionFailsAfterTheWait)
{
    m_versionWait = std::chrono::milliseconds(300);
    plug(3);
    m_station.write(QStringLiteral("empty/system.img"), QByteArray(4096, 'x'));
    writeConfig("[GET_DLL_Setting]\nPORTS=3\nITEM_VERSIONFILE_PATH=" + m_station.file(QStringLiteral("empty")).toUtf8() + "\n");
    ASSERT_TRUE(open());
    m_window->StartLine(0);
    waitLineIdle(0);
    EXPECT_EQ(infoText(0), text("IDC_EXE_INFO_FILEVERSIONERROR"));
    EXPECT_EQ(badge(0), QStringLiteral("FAIL"));
}

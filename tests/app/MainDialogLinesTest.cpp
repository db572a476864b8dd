#include "WindowFixture.h"

#include "lines/LineWorker.h"
#include "settings/VersionFileReader.h"
#include "support/Gate.h"

#include <QTest>

#include <atomic>

using namespace MainWindowLayout;

// The window side of the lines: buttons, labels, busy and close. The line
// behaviour itself is tested on LineController.
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
        return waitFor([&] { return !m_window->VersionReader().internalVersion().isEmpty(); });
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
    EXPECT_TRUE(m_window->LineTimerActive(0));
    waitLineIdle(0);
    EXPECT_EQ(badge(0), QStringLiteral("PASS"));
    EXPECT_EQ(infoText(0), text("IDC_EXE_INFO_DOWNLOADSUCC"));
    EXPECT_EQ(label(ids(0).version)->text(), QStringLiteral("ABC_DE_V2.3"));
    EXPECT_EQ(label(ids(0).percent)->text(), QStringLiteral("100/100"));
    EXPECT_FALSE(m_window->LineTimerActive(0));
    EXPECT_FALSE(button(ids(0).button)->isEnabled());
    EXPECT_EQ(counts(), QStringLiteral("1/1 1/1"));
    EXPECT_EQ(m_engine.downloadCalls(), (std::vector<std::pair<int, int>>{{0, 3}}));
    EXPECT_TRUE(m_data.read(QStringLiteral("rqvtcsv123.txt")).endsWith(", Y\r\n"));
}

TEST_F(MainDialogLines, ButtonOfAnUnofferedLineDoesNothing)
{
    ASSERT_TRUE(openWithPorts("3"));
    QTest::mouseClick(button(ids(0).button), Qt::LeftButton);
    m_window->StartLine(0);
    EXPECT_EQ(badge(0), QStringLiteral("OPEN"));
    EXPECT_EQ(m_engine.downloads(), 0);
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

// The format itself is the controller's; here the ticks reach the label.
TEST_F(MainDialogLines, LineTimerTicksReachTheElapsedLabel)
{
    ASSERT_TRUE(openReady());
    Gate gate;
    holdDownloads(gate);
    m_window->StartLine(0);
    for (int tick = 0; tick < 75; ++tick)
        m_window->OnTimer(0);
    EXPECT_EQ(label(ids(0).elapsed)->text(), QStringLiteral("1:15"));
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
    LineWorker::FailNextStartForTest();
    m_prompter.expectMessage();
    m_window->StartLine(0);
    EXPECT_EQ(m_prompter.messageTexts(), QStringList{QStringLiteral("Thread begin error!")});
    EXPECT_FALSE(m_window->AnyLineBusy());
    EXPECT_FALSE(m_window->LineTimerActive(0));
    EXPECT_EQ(badge(0), QStringLiteral("READY"));
    EXPECT_TRUE(button(ids(0).button)->isEnabled());
    m_window->close();
    EXPECT_EQ(s_exitCalls, 1);
}


// The keys reach the lines: both units start by themselves, one IMEI or not,
// and the day's log in the data dir tells so.
TEST_F(MainDialogLines, AutoStartAndDuplicateImeiKeysAndTheDailyLog)
{
    plug(3);
    plug(4); // the same IMEI
    const QString package = makePackage();
    writeConfig("[DLOption]\nAutoStart=1\nAutoStartDelayMs=0\nDupImeiCheck=0\n[GET_DLL_Setting]\nPORTS=3,4\n"
                "ITEM_VERSIONFILE_PATH="
                + package.toUtf8() + "\n");
    ASSERT_TRUE(open());
    ASSERT_TRUE(waitFor([&] { return badge(0) == QStringLiteral("PASS") && badge(1) == QStringLiteral("PASS"); }));
    waitLineIdle(0);
    waitLineIdle(1);
    EXPECT_EQ(m_engine.downloads(), 2);
    ASSERT_TRUE(m_window->DailyLog().Flush(std::chrono::seconds(10)));
    const QByteArray log = m_data.read(QStringLiteral("logs/station-2026-12-07.log"));
    EXPECT_TRUE(log.contains("line 2 USB_4 IMEI 356938035643809 start (automatic), package "))
        << log.constData();
}

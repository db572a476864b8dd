#include "lines/StationLog.h"

#include "support/TempDir.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

const QDateTime kNoon(QDate(2026, 12, 7), QTime(12, 0, 0, 250));

QStringList linesOf(const QByteArray& text)
{
    return QString::fromUtf8(text).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace

TEST(StationLogTest, LinesGoToTheFileOfTheirDayInOrder)
{
    TempDir dir;
    {
        StationLog log(dir.path() + QStringLiteral("logs"));
        log.Start();
        log.Add(kNoon, QStringLiteral("first"));
        log.Add(kNoon.addSecs(12 * 3600), QStringLiteral("next day"));
        log.Add(kNoon, QStringLiteral(u"第三 third"));
        // Stop writes what is queued.
    }
    EXPECT_EQ(dir.read(QStringLiteral("logs/station-2026-12-07.log")),
              QStringLiteral(u"2026-12-07 12:00:00.250 first\n2026-12-07 12:00:00.250 第三 third\n").toUtf8());
    EXPECT_EQ(dir.read(QStringLiteral("logs/station-2026-12-08.log")), "2026-12-08 00:00:00.250 next day\n");

    // Appended, never rewritten.
    StationLog again(dir.path() + QStringLiteral("logs/"));
    again.Start();
    again.Add(kNoon, QStringLiteral("later"));
    ASSERT_TRUE(again.Flush(10s));
    EXPECT_EQ(linesOf(dir.read(QStringLiteral("logs/station-2026-12-07.log"))).size(), 3);
}

TEST(StationLogTest, FilesOlderThanThirtyDaysAreRemoved)
{
    TempDir dir;
    for (const char* name : {"station-2026-10-01.log", "station-2026-11-06.log", "station-2026-11-07.log",
                             "station-2026-12-06.log", "notes.txt", "station-2026-1-01.log"})
        dir.write(QStringLiteral("logs/") + QLatin1String(name), "x\n");
    StationLog log(dir.path() + QStringLiteral("logs/"));
    log.Start();
    log.Add(kNoon, QStringLiteral("today"));
    ASSERT_TRUE(log.Flush(10s));
    QStringList left = QDir(dir.path() + QStringLiteral("logs")).entryList(QDir::Files);
    left.sort();
    EXPECT_EQ(left, QStringList({"notes.txt", "station-2026-1-01.log", "station-2026-11-07.log",
                                 "station-2026-12-06.log", "station-2026-12-07.log"}));
}

TEST(StationLogTest, ControlCharactersAreShownNotWritten)
{
    EXPECT_EQ(StationLog::Clean(QStringLiteral("a\tb\r\nc\x1b[0m\x7f")), QStringLiteral("a\\x09b\\x0d\\x0ac\\x1b[0m\\x7f"));
    EXPECT_EQ(StationLog::Clean(QStringLiteral(u"\u0085x\u2028y\u202Ez")), QStringLiteral("\\x85x\\u2028y\\u202ez"));
    EXPECT_EQ(StationLog::Clean(QStringLiteral(u"升级 ok, 100%")), QStringLiteral(u"升级 ok, 100%"));
}

// A full queue drops lines instead of making the caller wait; the next line
// written says how many were lost.
TEST(StationLogTest, FullQueueDropsLinesAndTellsSoLater)
{
    TempDir dir;
    StationLog log(dir.path(), 3);
    for (int i = 0; i < 5; ++i)
        log.Add(kNoon, QStringLiteral("line %1").arg(i));
    EXPECT_EQ(log.LostLines(), 2u);
    EXPECT_FALSE(log.Flush(0ms)); // not started: nothing written yet
    log.Start();
    ASSERT_TRUE(log.Flush(10s));
    log.Add(kNoon, QStringLiteral("line 5"));
    ASSERT_TRUE(log.Flush(10s));
    EXPECT_EQ(linesOf(dir.read(StationLog::FileName(kNoon.date()))),
              QStringList({"2026-12-07 12:00:00.250 log: 2 lines lost (queue full)", "2026-12-07 12:00:00.250 line 0",
                           "2026-12-07 12:00:00.250 line 1", "2026-12-07 12:00:00.250 line 2",
                           "2026-12-07 12:00:00.250 line 5"}));
}

// Lines from several threads at once, as from the window and the workers.
TEST(StationLogTest, ManyWritersLoseNothingBelowTheLimit)
{
    TempDir dir;
    StationLog log(dir.path(), 100000);
    log.Start();
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t)
        writers.emplace_back([&log, t] {
            for (int i = 0; i < 500; ++i)
                log.Add(kNoon, QStringLiteral("writer %1 line %2").arg(t).arg(i));
        });
    for (std::thread& writer : writers)
        writer.join();
    ASSERT_TRUE(log.Flush(10s));
    EXPECT_EQ(log.LostLines(), 0u);
    EXPECT_EQ(linesOf(dir.read(StationLog::FileName(kNoon.date()))).size(), 2000);
}

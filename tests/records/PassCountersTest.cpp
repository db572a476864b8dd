#include "platform/IniFile.h"
#include "records/PassCounters.h"
#include "support/TempDir.h"

#include <QFile>

#include <gtest/gtest.h>

namespace {

const QByteArray kSection = "CountsInfo";

class PassCountersTest : public ::testing::Test
{
protected:
    QString path() const { return m_dir.file(QStringLiteral("Vintrel_RT40K_USV1.00.00.ini")); }
    QByteArray value(const char* key) const
    {
        return IniFile(path()).readText(kSection, key, "<missing>");
    }
    void seed(const char* successes, const char* total, const char* nowSuccesses,
              const char* nowTotal, const QByteArray& clearTime = "12/01/2026 08:00:00")
    {
        m_dir.write(QStringLiteral("Vintrel_RT40K_USV1.00.00.ini"),
                    QByteArray("[CountsInfo]\r\nSuccessCounts=") + successes + "\r\nTotalCounts="
                        + total + "\r\nNowSuccessCounts=" + nowSuccesses
                        + "\r\nNowTotalCounts=" + nowTotal + "\r\nClearTime=" + clearTime
                        + "\r\n");
    }

    TempDir m_dir;
};

TEST_F(PassCountersTest, FirstStartCreatesZerosAndEmptyClearTime)
{
    PassCounters counters(path());
    counters.LoadCounters(QString());

    ASSERT_TRUE(QFile::exists(path()));
    EXPECT_EQ(value("SuccessCounts"), "0");
    EXPECT_EQ(value("TotalCounts"), "0");
    EXPECT_EQ(value("NowSuccessCounts"), "0");
    EXPECT_EQ(value("NowTotalCounts"), "0");
    EXPECT_EQ(value("ClearTime"), "");
    // Keys in the order in which a new file is written.
    const QByteArray text = m_dir.read(QStringLiteral("Vintrel_RT40K_USV1.00.00.ini"));
    EXPECT_LT(text.indexOf("SuccessCounts"), text.indexOf("TotalCounts"));
    EXPECT_LT(text.indexOf("TotalCounts"), text.indexOf("NowSuccessCounts"));
    EXPECT_LT(text.indexOf("NowSuccessCounts"), text.indexOf("NowTotalCounts"));
    EXPECT_LT(text.indexOf("NowTotalCounts"), text.indexOf("ClearTime"));

    EXPECT_EQ(counters.CumulativeDisplay(), "0/0");
    EXPECT_EQ(counters.CurrentDisplay(), "0/0");
    EXPECT_EQ(counters.ClearTimeDisplay(), "00/00/0000 00:00:00");
}

TEST_F(PassCountersTest, FailureCountsAttemptOnlyAndPassCountsAll)
{
    seed("3", "5", "3", "5");
    PassCounters counters(path());
    counters.LoadCounters(QStringLiteral("12/07/2026 09:00:00"));
    EXPECT_EQ(counters.CumulativeDisplay(), "3/5");

    counters.UpdateCounters(false, false, QStringLiteral("12/07/2026 09:00:01"));
    EXPECT_EQ(counters.CumulativeDisplay(), "3/6");
    EXPECT_EQ(counters.CurrentDisplay(), "3/6");
    EXPECT_EQ(value("TotalCounts"), "6");
    EXPECT_EQ(value("SuccessCounts"), "3");

    counters.UpdateCounters(true, false, QStringLiteral("12/07/2026 09:00:02"));
    EXPECT_EQ(counters.CumulativeDisplay(), "4/7");
    EXPECT_EQ(counters.CurrentDisplay(), "4/7");
    EXPECT_EQ(counters.Successes(), 4u);
    EXPECT_EQ(counters.Total(), 7u);
    // The clear time is not touched by a result.
    EXPECT_EQ(counters.ClearTimeDisplay(), "12/01/2026 08:00:00");
}

TEST_F(PassCountersTest, PassFromThreeOfFiveGivesFourOfSix)
{
    seed("3", "5", "1", "2");
    PassCounters counters(path());
    counters.LoadCounters(QString());
    counters.UpdateCounters(true, false, QString());
    EXPECT_EQ(counters.CumulativeDisplay(), "4/6");
    EXPECT_EQ(counters.CurrentDisplay(), "2/3");
}

TEST_F(PassCountersTest, ClearResetsCurrentPairAndStampsClock)
{
    seed("3", "5", "2", "4");
    PassCounters counters(path());
    counters.LoadCounters(QString());
    counters.UpdateCounters(true, true, QStringLiteral("12/07/2026 09:35:10"));

    EXPECT_EQ(counters.CurrentDisplay(), "0/0");
    EXPECT_EQ(counters.ClearTimeDisplay(), "12/07/2026 09:35:10");
    EXPECT_EQ(counters.CumulativeDisplay(), "3/5");
    EXPECT_EQ(value("ClearTime"), "12/07/2026 09:35:10");
}

TEST_F(PassCountersTest, ClearTimeOfOneCharacterShowsZerosAndLongOneIsCut)
{
    seed("0", "0", "0", "0", "x");
    PassCounters counters(path());
    counters.LoadCounters(QString());
    EXPECT_EQ(counters.ClearTimeDisplay(), "00/00/0000 00:00:00");

    const QByteArray longTime = "12/07/2026 09:35:10abcdef";
    ASSERT_EQ(longTime.size(), 25);
    seed("0", "0", "0", "0", longTime);
    counters.LoadCounters(QString());
    EXPECT_EQ(counters.ClearTimeDisplay(), "12/07/2026 09:35:10");
}

TEST_F(PassCountersTest, NonNumberReadsZeroAndIsOverwritten)
{
    seed("abc", "5", "0", "0");
    PassCounters counters(path());
    counters.LoadCounters(QString());
    EXPECT_EQ(counters.CumulativeDisplay(), "0/5");
    counters.UpdateCounters(true, false, QString());
    EXPECT_EQ(value("SuccessCounts"), "1");
}

TEST_F(PassCountersTest, DeletedWhileRunningReappearsWithoutClearTime)
{
    seed("3", "5", "3", "5");
    PassCounters counters(path());
    counters.LoadCounters(QString());
    ASSERT_TRUE(QFile::remove(path()));

    counters.UpdateCounters(true, false, QStringLiteral("12/07/2026 09:35:10"));
    EXPECT_EQ(value("TotalCounts"), "6");
    EXPECT_EQ(value("NowTotalCounts"), "6");
    EXPECT_EQ(value("SuccessCounts"), "4");
    EXPECT_EQ(value("NowSuccessCounts"), "4");
    EXPECT_EQ(value("ClearTime"), "<missing>");
    EXPECT_EQ(counters.ClearTimeDisplay(), "00/00/0000 00:00:00");

    ASSERT_TRUE(QFile::remove(path()));
    counters.UpdateCounters(false, false, QString());
    EXPECT_EQ(value("TotalCounts"), "7");
    EXPECT_EQ(value("SuccessCounts"), "<missing>");
    EXPECT_EQ(counters.CumulativeDisplay(), "0/7");
}

} // namespace

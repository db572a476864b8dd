// station-report run as the floor runs it, against the private server.
#include "StationReport.h"
#include "records/PgConnection.h"
#include "records/RecordDbSchema.h"
#include "records/RecordDbTestSupport.h"
#include "support/TempDir.h"

#include <QProcess>

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

TEST(StationReportTest, SinceTakesMinutesHoursOrDays)
{
    EXPECT_EQ(StationReport::ParseSince(QStringLiteral("8h")), QByteArray("8 hours"));
    EXPECT_EQ(StationReport::ParseSince(QStringLiteral("30m")), QByteArray("30 minutes"));
    EXPECT_EQ(StationReport::ParseSince(QStringLiteral("2d")), QByteArray("2 days"));
    for (const char* bad : {"", "h", "0h", "8", "8x", "-8h", "8h; DROP TABLE x", "1234567h"})
        EXPECT_FALSE(StationReport::ParseSince(QString::fromLatin1(bad))) << bad;
}

TEST(StationReportTest, CsvFieldsAreQuotedAndFormulasNeutralised)
{
    EXPECT_EQ(StationReport::CsvField(QStringLiteral("plain")), "plain");
    EXPECT_EQ(StationReport::CsvField(QStringLiteral("a, b")), "\"a, b\"");
    EXPECT_EQ(StationReport::CsvField(QStringLiteral("say \"x\"")), "\"say \"\"x\"\"\"");
    EXPECT_EQ(StationReport::CsvField(QStringLiteral("=HYPERLINK(1)")), "'=HYPERLINK(1)");
    EXPECT_EQ(StationReport::CsvField(QStringLiteral("写入失败")), QStringLiteral("写入失败").toUtf8());
}

class StationReportRun : public ::testing::Test
{
protected:
    // Runs the program; returns its exit code, output in m_out and m_err.
    int run(const QStringList& args)
    {
        QProcess p;
        p.start(QStringLiteral(STATION_BUILD_STATION_DIR "/tools/station-report"), args);
        if (!p.waitForFinished(60000))
            return -1;
        m_out = p.readAllStandardOutput();
        m_err = p.readAllStandardError();
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }

    QByteArray m_out;
    QByteArray m_err;
};

OutboxRecord at(const char* station, const char* imei, const QDateTime& when, bool passed, int line = 1,
                const char* message = "")
{
    OutboxRecord r = RecordDbTest::sample(0, passed);
    r.station = QString::fromLatin1(station);
    r.imei = QString::fromLatin1(imei);
    r.recordedAt = when;
    r.line = line;
    r.port = line + 2;
    r.engineMessage = QString::fromUtf8(message);
    return r;
}

TEST_F(StationReportRun, PrintsTheShiftFiguresOfTheLastHours)
{
    REQUIRE_PG_SERVER(server);
    const QByteArray db = server->createDatabase() + " options='-c TimeZone=UTC'";
    PgConnection conn;
    ASSERT_TRUE(conn.connect(db, 30s));
    ASSERT_TRUE(RecordDbSchema::Ensure(conn, 30s)) << conn.error().toStdString();

    // Within one hour that began over an hour ago; one record long before.
    QDateTime hour = QDateTime::currentDateTimeUtc().addSecs(-3600);
    hour.setTime(QTime(hour.time().hour(), 0));
    QList<PendingRecord> records;
    for (const OutboxRecord& r : {at("A", "111", hour.addSecs(300), false, 1, "write, failed"),
                                  at("A", "111", hour.addSecs(600), true), at("A", "222", hour.addSecs(900), true),
                                  at("B", "333", hour.addSecs(1200), false, 2),
                                  at("A", "999", hour.addDays(-5), false, 4, "old")})
        records << PendingRecord{0, r};
    ASSERT_TRUE(conn.exec(RecordDbSchema::InsertStatement(int(records.size())),
                          RecordDbSchema::InsertParameters(records), 30s))
        << conn.error().toStdString();

    ASSERT_EQ(run({QStringLiteral("--since"), QStringLiteral("3h"), QStringLiteral("--csv"), QStringLiteral("--url"),
                   QString::fromUtf8(db)}),
              0)
        << m_err.constData();
    const QByteArray hourText = hour.toString(QStringLiteral("yyyy-MM-dd HH:00")).toUtf8();
    const QByteArray dayText = hour.toString(QStringLiteral("yyyy-MM-dd")).toUtf8();
    QByteArray expected = "figure,station,attempts,passed,pass %,units/hour\r\n"
                          "summary,A,3,2,66.7,3.0\r\n"
                          "summary,B,1,0,0.0,1.0\r\n"
                          "\r\n"
                          "figure,station,hour,attempts,units,passed\r\n"
                          "units_per_hour,A,"
        + hourText + ",3,2,2\r\nunits_per_hour,B," + hourText
        + ",1,1,0\r\n"
          "\r\n"
          "figure,station,day,units,first pass,yield %\r\n"
          "first_pass_yield,A,"
        + dayText + ",2,1,50.0\r\nfirst_pass_yield,B," + dayText
        + ",1,0,0.0\r\n"
          "\r\n"
          "figure,station,line,port,reason,count\r\n"
          "failures_by_port,A,1,3,\"write, failed\",1\r\n"
          "failures_by_port,B,2,4,engine code 17,1\r\n";
    // Near midnight the day of the records may begin before the window.
    if (hour.date() == QDateTime::currentDateTimeUtc().addSecs(-3 * 3600).date()) {
        EXPECT_EQ(m_out, expected);
    }

    ASSERT_EQ(run({QStringLiteral("--since"), QStringLiteral("3h"), QStringLiteral("--station"), QStringLiteral("B"),
                   QStringLiteral("--url"), QString::fromUtf8(db)}),
              0);
    EXPECT_TRUE(m_out.startsWith("Summary\n")) << m_out.constData();
    EXPECT_TRUE(m_out.contains("engine code 17"));
    EXPECT_FALSE(m_out.contains("write, failed"));
    EXPECT_FALSE(m_out.contains(" A "));
    EXPECT_TRUE(m_out.contains("\n  station  line  port  reason          count\n")) << m_out.constData();
}

TEST_F(StationReportRun, BadArgumentsAndMissingUrlAreRefused)
{
    EXPECT_EQ(run({QStringLiteral("--since"), QStringLiteral("soon")}), 2);
    EXPECT_TRUE(m_err.contains("usage"));
    EXPECT_EQ(run({QStringLiteral("--bogus")}), 2);
    // An unreachable server is an error with the server named, no password.
    EXPECT_EQ(run({QStringLiteral("--url"), QStringLiteral("host=/nonexistent user=u password=secret dbname=d")}), 1);
    EXPECT_TRUE(m_err.contains("u@/nonexistent")) << m_err.constData();
    EXPECT_FALSE(m_err.contains("secret"));
}

} // namespace

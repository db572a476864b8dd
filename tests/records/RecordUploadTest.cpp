// The upload against a real PostgreSQL server: fields and views, outages,
// refused logins and servers that misbehave, as the window thread sees them.
#include "records/LoopbackListener.h"
#include "records/RecordDbLink.h"
#include "records/RecordDbTestSupport.h"
#include "records/RecordOutbox.h"
#include "support/TempDir.h"

#include <QFile>
#include <QSet>

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using RecordDbTest::sample;
using RecordDbTest::waitFor;

class RecordUploadTest : public ::testing::Test
{
protected:
    struct Told
    {
        RecordDbLink::Problem problem;
        QString detail;
    };

    static RecordUploader::Options fastOptions()
    {
        RecordUploader::Options o;
        o.batchSize = 100;
        o.connectTimeout = 2s;
        o.statementTimeout = 10s;
        o.firstRetry = 20ms;
        o.maxRetry = 200ms;
        o.idlePoll = 100ms;
        return o;
    }

    std::unique_ptr<RecordDbLink> makeLink(const QByteArray& url, RecordUploader::Options options = fastOptions())
    {
        return std::make_unique<RecordDbLink>(
            url, m_dir.file("outbox.db"), QStringLiteral("ST-01"), QStringLiteral("Vintrel_RT40K_USV1.00.00"),
            [this](RecordDbLink::Problem problem, const QString& detail) { m_told.append({problem, detail}); },
            options);
    }

    static int count(const QByteArray& db, const QByteArray& sql = "SELECT count(*) FROM download_records")
    {
        const QList<QStringList> rows = PgTestServer::query(db, sql);
        return rows.isEmpty() ? -1 : rows[0][0].toInt();
    }

    // Waits until the uploader has tried to connect a few more times.
    static bool retriedSeveralTimes(RecordDbLink& link)
    {
        const int from = link.uploader().status().connectAttempts;
        return waitFor([&] { return link.uploader().status().connectAttempts >= from + 3; });
    }

    TempDir m_dir;
    QList<Told> m_told;
};

TEST_F(RecordUploadTest, EveryFieldArrivesAsRecorded)
{
    REQUIRE_PG_SERVER(server);
    const QByteArray db = server->createDatabase();
    auto link = makeLink(db);
    link->start();
    const OutboxRecord passed = sample(1, true);
    OutboxRecord failed = sample(2, false);
    failed.engineMessage = QStringLiteral("写入失败, it's \"bad\"");
    link->add(passed);
    link->add(failed);
    ASSERT_TRUE(waitFor([&] { return count(db) == 2; }));
    EXPECT_TRUE(waitFor([&] { return link->status().waiting == 0; }));

    const QList<QStringList> rows = PgTestServer::query(
        db + " options='-c TimeZone=UTC'",
        "SELECT record_id, station, imei, result, to_char(recorded_at, 'YYYY-MM-DD HH24:MI:SS.MS'), line, port,"
        " version_stem, device_version, package_version, engine_code, engine_message, elapsed_seconds,"
        " tool_version FROM download_records ORDER BY recorded_at");
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0], (QStringList{QString::fromLatin1(passed.recordId), "ST-01", passed.imei, "PASS",
                                    "2026-12-07 08:35:13.250", "2", "4", "ABC_", "ABC_V1.0", "ABC_V1.1", "0", "",
                                    "61", "Vintrel_RT40K_USV1.00.00"}));
    EXPECT_EQ(rows[1], (QStringList{QString::fromLatin1(failed.recordId), "ST-01", failed.imei, "FAIL",
                                    "2026-12-07 08:35:14.250", "3", "5", "ABC_", "ABC_V1.0", "ABC_V1.1", "17",
                                    failed.engineMessage, "62", "Vintrel_RT40K_USV1.00.00"}));
    EXPECT_TRUE(m_told.isEmpty());
}

// A known day of two stations, times in UTC.
OutboxRecord known(const char* station, const char* imei, const char* when, bool passed, int line = 1, int port = 3,
                   int code = 0, const char* message = "")
{
    OutboxRecord r = sample(0, passed);
    r.station = QString::fromLatin1(station);
    r.imei = QString::fromLatin1(imei);
    r.recordedAt = QDateTime::fromString(QString::fromLatin1(when), Qt::ISODate);
    r.line = line;
    r.port = port;
    r.engineCode = code;
    r.engineMessage = QString::fromLatin1(message);
    return r;
}

TEST_F(RecordUploadTest, ViewsGiveTheShiftFiguresOfAKnownSet)
{
    REQUIRE_PG_SERVER(server);
    const QByteArray db = server->createDatabase();
    auto link = makeLink(db);
    link->start();
    const QList<OutboxRecord> records = {
        known("A", "111", "2026-12-07T08:10:00Z", false, 1, 3, 9, "timeout"),
        known("A", "111", "2026-12-07T08:20:00Z", true),
        known("A", "222", "2026-12-07T08:30:00Z", true),
        known("A", "333", "2026-12-07T09:05:00Z", true),
        known("B", "444", "2026-12-07T08:40:00Z", false, 2, 5, 5),
        known("B", "444", "2026-12-07T09:10:00Z", false, 2, 5, 5),
        // Already tried at A today: not a first attempt for B.
        known("B", "111", "2026-12-07T09:30:00Z", true),
        known("A", "111", "2026-12-08T07:00:00Z", true),
    };
    for (const OutboxRecord& r : records)
        link->add(r);
    ASSERT_TRUE(waitFor([&] { return count(db) == int(records.size()); }));

    const QByteArray utc = db + " options='-c TimeZone=UTC'";
    EXPECT_EQ(PgTestServer::query(utc, "SELECT station, to_char(hour, 'MM-DD HH24'), attempts, units, passed"
                                       " FROM units_per_hour ORDER BY station, hour"),
              (QList<QStringList>{{"A", "12-07 08", "3", "2", "2"},
                                  {"A", "12-07 09", "1", "1", "1"},
                                  {"A", "12-08 07", "1", "1", "1"},
                                  {"B", "12-07 08", "1", "1", "0"},
                                  {"B", "12-07 09", "2", "2", "1"}}));
    EXPECT_EQ(PgTestServer::query(utc, "SELECT station, to_char(day, 'MM-DD'), units, first_pass, yield_percent"
                                       " FROM first_pass_yield ORDER BY station, day"),
              (QList<QStringList>{{"A", "12-07", "3", "2", "66.7"},
                                  {"A", "12-08", "1", "1", "100.0"},
                                  {"B", "12-07", "1", "0", "0.0"}}));
    EXPECT_EQ(PgTestServer::query(utc, "SELECT station, line, port, reason, sum(count) FROM failures_by_port"
                                       " GROUP BY 1, 2, 3, 4 ORDER BY 1, 2"),
              (QList<QStringList>{{"A", "1", "3", "timeout", "1"}, {"B", "2", "5", "engine code 5", "2"}}));
}

TEST_F(RecordUploadTest, EightLinesFinishingAtOnceGiveEightRecordsInOrder)
{
    REQUIRE_PG_SERVER(server);
    const QByteArray db = server->createDatabase();
    auto link = makeLink(db);
    link->start();
    const QDateTime now = QDateTime::currentDateTime();
    QSet<QString> ids;
    for (int line = 1; line <= 8; ++line) {
        OutboxRecord r = sample(line);
        r.line = line;
        r.recordedAt = now.addMSecs(line);
        ids.insert(QString::fromLatin1(r.recordId));
        link->add(r);
    }
    ASSERT_TRUE(waitFor([&] { return count(db) == 8; }));
    const QList<QStringList> rows =
        PgTestServer::query(db, "SELECT line, record_id FROM download_records ORDER BY recorded_at");
    ASSERT_EQ(rows.size(), 8);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(rows[i][0], QString::number(i + 1));
        EXPECT_TRUE(ids.remove(rows[i][1]));
    }
    EXPECT_TRUE(waitFor([&] { return link->status().waiting == 0; }));
}

TEST_F(RecordUploadTest, ServerDownAtStartThenUpGetsEverythingQueued)
{
    REQUIRE_PG_SERVER(server);
    const QByteArray db = server->createDatabase();
    ASSERT_TRUE(server->stop());
    auto link = makeLink(db);
    link->start();
    for (int n = 0; n < 50; ++n)
        link->add(sample(n));
    ASSERT_TRUE(waitFor([&] { return m_told.size() == 1; }));
    ASSERT_TRUE(retriedSeveralTimes(*link));
    QCoreApplication::processEvents();
    EXPECT_EQ(m_told.size(), 1) << "an outage is told once, not per record or per retry";
    EXPECT_EQ(m_told[0].problem, RecordDbLink::Problem::Link);
    RecordDbLink::Status status = link->status();
    EXPECT_EQ(status.waiting, 50);
    EXPECT_FALSE(status.linkUp);
    EXPECT_FALSE(status.lastError.isEmpty());

    ASSERT_TRUE(server->start());
    ASSERT_TRUE(waitFor([&] { return count(db) == 50; }));
    EXPECT_TRUE(waitFor([&] { return link->status().waiting == 0 && link->status().linkUp; }));
    EXPECT_EQ(m_told.size(), 1);

    // Failing anew after it worked is told again, also while idle.
    ASSERT_TRUE(server->stop());
    ASSERT_TRUE(waitFor([&] { return m_told.size() == 2; }));
    ASSERT_TRUE(server->start());
}

TEST_F(RecordUploadTest, ServerStoppedInTheMiddleOfABatchLosesNothingAndDoublesNothing)
{
    REQUIRE_PG_SERVER(server);
    const QByteArray db = server->createDatabase();
    constexpr int kRecords = 20000;
    QSet<QString> ids;
    {
        RecordOutbox outbox(m_dir.file("outbox.db"));
        ASSERT_TRUE(outbox.open(true));
        QList<OutboxRecord> records;
        for (int n = 0; n < kRecords; ++n) {
            records << sample(n);
            ids.insert(QString::fromLatin1(records.last().recordId));
        }
        ASSERT_TRUE(outbox.addAll(records));
    }
    RecordUploader::Options options = fastOptions();
    options.batchSize = 500;
    auto link = makeLink(db, options);
    link->start();
    ASSERT_TRUE(waitFor([&] { return link->uploader().status().uploaded >= 1000; }));
    ASSERT_TRUE(server->stop("immediate"));
    EXPECT_LT(link->uploader().status().uploaded, kRecords) << "the stop came too late to test anything";
    ASSERT_TRUE(server->start());
    ASSERT_TRUE(waitFor([&] { return link->status().waiting == 0; }, 120s));

    const QList<QStringList> rows = PgTestServer::query(db, "SELECT record_id FROM download_records");
    ASSERT_EQ(rows.size(), kRecords);
    for (const QStringList& row : rows)
        EXPECT_TRUE(ids.remove(row[0])) << "unknown or doubled record " << row[0].toStdString();
    EXPECT_TRUE(ids.isEmpty());
}

TEST_F(RecordUploadTest, RefusedLoginIsToldOnceAndThePasswordFileIsUsed)
{
    REQUIRE_PG_SERVER(server);
    const QByteArray db = server->createDatabase();
    const QString passFile = m_dir.file("pgpass");
    auto writePassFile = [&](const QByteArray& password) {
        m_dir.write("pgpass", "*:*:*:pwuser:" + password + "\n");
        QFile::setPermissions(passFile, QFile::ReadOwner | QFile::WriteOwner);
    };
    writePassFile("wrong-password");
    qputenv("PGPASSFILE", QFile::encodeName(passFile));
    const QByteArray url = QByteArray(db).replace("user=postgres", "user=pwuser");
    auto link = makeLink(url);
    link->start();
    link->add(sample(1));
    ASSERT_TRUE(waitFor([&] { return m_told.size() == 1; }));
    EXPECT_TRUE(m_told[0].detail.contains(QStringLiteral("password authentication failed")))
        << m_told[0].detail.toStdString();
    ASSERT_TRUE(retriedSeveralTimes(*link));
    QCoreApplication::processEvents();
    EXPECT_EQ(m_told.size(), 1);

    writePassFile("right-password");
    EXPECT_TRUE(waitFor([&] { return count(db) == 1; }));
    EXPECT_EQ(m_told.size(), 1);
    link.reset();
    qunsetenv("PGPASSFILE");
}

TEST_F(RecordUploadTest, UnknownHostAndBadUrlAreToldOnceAndRecordsWait)
{
    for (const QByteArray& url : {QByteArray("host=no-such-host.invalid dbname=production connect_timeout=2"),
                                 QByteArray("postgresql://station@[::1/production"),
                                 QByteArray("sslmode=sometimes host=/nonexistent")}) {
        m_told.clear();
        auto link = makeLink(url);
        link->start();
        link->add(sample(1));
        link->add(sample(2));
        ASSERT_TRUE(waitFor([&] { return m_told.size() == 1; })) << url.constData();
        ASSERT_TRUE(retriedSeveralTimes(*link));
        QCoreApplication::processEvents();
        EXPECT_EQ(m_told.size(), 1) << url.constData();
        EXPECT_EQ(link->status().waiting, 2);
        EXPECT_FALSE(link->status().server.contains(QStringLiteral("password")));
        link.reset();
        QFile::remove(m_dir.file("outbox.db"));
    }
}

TEST_F(RecordUploadTest, TlsRequiredButRefusedIsToldOnce)
{
    LoopbackListener listener(LoopbackListener::Mode::RefuseTls);
    ASSERT_NE(listener.port(), 0);
    auto link = makeLink("host=127.0.0.1 port=" + QByteArray::number(listener.port())
                         + " sslmode=require user=station dbname=production");
    link->start();
    link->add(sample(1));
    ASSERT_TRUE(waitFor([&] { return m_told.size() == 1; }));
    EXPECT_TRUE(m_told[0].detail.contains(QStringLiteral("SSL"))) << m_told[0].detail.toStdString();
    ASSERT_TRUE(retriedSeveralTimes(*link));
    QCoreApplication::processEvents();
    EXPECT_EQ(m_told.size(), 1);
    EXPECT_EQ(link->status().waiting, 1);
}

TEST_F(RecordUploadTest, ServerThatNeverAnswersDoesNotHoldTheWindowThread)
{
    LoopbackListener listener(LoopbackListener::Mode::Silent);
    ASSERT_NE(listener.port(), 0);
    RecordUploader::Options options = fastOptions();
    options.connectTimeout = 1s;
    auto link = makeLink("host=127.0.0.1 port=" + QByteArray::number(listener.port()) + " user=station dbname=p",
                         options);
    link->start();
    ASSERT_TRUE(waitFor([&] { return listener.accepted() >= 1; }));
    // The uploader now waits on the silent server; the window thread's
    // calls do not.
    for (int n = 0; n < 20; ++n)
        link->add(sample(n));
    EXPECT_EQ(link->status().waiting, 20);
    ASSERT_TRUE(waitFor([&] { return m_told.size() == 1; }));
    EXPECT_TRUE(m_told[0].detail.contains(QStringLiteral("did not answer"))) << m_told[0].detail.toStdString();
    // Closing while the uploader waits on the server ends the wait.
    ASSERT_TRUE(waitFor([&] { return listener.accepted() >= 2; }));
    link.reset();
}

TEST_F(RecordUploadTest, DeletedOrDamagedOutboxIsToldAndNewRecordsStillArrive)
{
    REQUIRE_PG_SERVER(server);
    const QByteArray db = server->createDatabase();
    m_dir.write("outbox.db", QByteArray(4096, '\x5a'));
    auto link = makeLink(db);
    link->start();
    ASSERT_EQ(m_told.size(), 1);
    EXPECT_EQ(m_told[0].problem, RecordDbLink::Problem::Outbox);
    EXPECT_TRUE(m_told[0].detail.contains(QStringLiteral(".corrupt-"))) << m_told[0].detail.toStdString();
    link->add(sample(1));
    ASSERT_TRUE(waitFor([&] { return count(db) == 1; }));

    ASSERT_TRUE(QFile::remove(m_dir.file("outbox.db")));
    link->add(sample(2));
    ASSERT_EQ(m_told.size(), 2);
    EXPECT_TRUE(m_told[1].detail.contains(QStringLiteral("deleted"))) << m_told[1].detail.toStdString();
    link->add(sample(3));
    EXPECT_EQ(m_told.size(), 2);
    ASSERT_TRUE(waitFor([&] { return count(db) == 3; }));
    EXPECT_TRUE(waitFor([&] { return link->status().waiting == 0; }));
}

} // namespace

// The tool killed between the server's insert and the outbox mark, round
// after round: afterwards every record is in the table exactly once.
#include "recorddb/RecordDbTestSupport.h"
#include "recorddb/RecordOutbox.h"
#include "support/TempDir.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QSet>

#include <gtest/gtest.h>

namespace {

using RecordDbTest::sample;

int rowCount(const QByteArray& db)
{
    const QList<QStringList> rows = PgTestServer::query(db, "SELECT count(*) FROM download_records");
    return rows.isEmpty() ? 0 : rows[0][0].toInt();
}

TEST(UploadCrashTest, KilledUploaderStoresEveryRecordExactlyOnce)
{
    REQUIRE_PG_SERVER(server);
    const QByteArray db = server->createDatabase();
    TempDir dir;
    const QString outboxPath = dir.file("outbox.db");
    RecordOutbox outbox(outboxPath);
    ASSERT_TRUE(outbox.open(true));
    QRandomGenerator random(7391);
    QSet<QString> ids;
    int killedBetweenInsertAndMark = 0;

    for (int round = 0; round < 24; ++round) {
        QList<OutboxRecord> records;
        const int count = 30 + int(random.bounded(90));
        for (int n = 0; n < count; ++n) {
            records << sample(round * 1000 + n, n % 5 != 0);
            ids.insert(QString::fromLatin1(records.last().recordId));
        }
        ASSERT_TRUE(outbox.addAll(records));

        QProcess child;
        if (round % 2 == 0) {
            // Dies right after an acknowledged insert, before the mark.
            const int killAfter = 1 + int(random.bounded(3));
            child.start(QStringLiteral(UPLOAD_CRASH_CHILD),
                        {outboxPath, QString::fromUtf8(db), QString::number(killAfter)});
            ASSERT_TRUE(child.waitForFinished(60000));
            if (child.exitStatus() == QProcess::CrashExit)
                ++killedBetweenInsertAndMark;
            else
                EXPECT_EQ(child.exitCode(), 3) << child.readAllStandardError().constData();
        } else {
            // Killed from outside at whatever point it has reached once
            // the server holds more than before.
            const int before = rowCount(db);
            child.start(QStringLiteral(UPLOAD_CRASH_CHILD), {outboxPath, QString::fromUtf8(db), QStringLiteral("0")});
            ASSERT_TRUE(child.waitForStarted());
            ASSERT_TRUE(RecordDbTest::waitFor([&] {
                return rowCount(db) > before || child.state() == QProcess::NotRunning;
            }));
            child.kill();
            ASSERT_TRUE(child.waitForFinished(60000));
        }
        EXPECT_LE(rowCount(db), int(ids.size()));
    }
    EXPECT_GT(killedBetweenInsertAndMark, 6);

    QProcess drain;
    drain.start(QStringLiteral(UPLOAD_CRASH_CHILD), {outboxPath, QString::fromUtf8(db), QStringLiteral("0")});
    ASSERT_TRUE(drain.waitForFinished(120000));
    ASSERT_EQ(drain.exitStatus(), QProcess::NormalExit);
    ASSERT_EQ(drain.exitCode(), 0) << drain.readAllStandardError().constData();

    const QList<QStringList> rows = PgTestServer::query(db, "SELECT record_id FROM download_records");
    EXPECT_EQ(rows.size(), ids.size());
    for (const QStringList& row : rows)
        EXPECT_TRUE(ids.remove(row[0])) << "unknown or doubled record " << row[0].toStdString();
    EXPECT_TRUE(ids.isEmpty());
    EXPECT_EQ(outbox.pendingCount(), 0);
}

} // namespace

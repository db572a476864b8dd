#include "recorddb/RecordOutbox.h"
#include "recorddb/RecordDbTestSupport.h"
#include "support/TempDir.h"

#include <QFile>
#include <QSet>

#include <sqlite3.h>

#include <gtest/gtest.h>

namespace {

using RecordDbTest::sample;

void expectSame(const OutboxRecord& a, const OutboxRecord& b)
{
    EXPECT_EQ(a.recordId, b.recordId);
    EXPECT_EQ(a.station, b.station);
    EXPECT_EQ(a.imei, b.imei);
    EXPECT_EQ(a.passed, b.passed);
    EXPECT_EQ(a.versionStem, b.versionStem);
    EXPECT_EQ(a.deviceVersion, b.deviceVersion);
    EXPECT_EQ(a.packageVersion, b.packageVersion);
    EXPECT_EQ(a.recordedAt, b.recordedAt);
    EXPECT_EQ(a.recordedAt.offsetFromUtc(), b.recordedAt.offsetFromUtc());
    EXPECT_EQ(a.line, b.line);
    EXPECT_EQ(a.port, b.port);
    EXPECT_EQ(a.engineCode, b.engineCode);
    EXPECT_EQ(a.engineMessage, b.engineMessage);
    EXPECT_EQ(a.elapsedSeconds, b.elapsedSeconds);
    EXPECT_EQ(a.toolVersion, b.toolVersion);
}

TEST(RecordOutboxTest, KeepsEveryFieldInOrderUntilMarked)
{
    TempDir dir;
    RecordOutbox outbox(dir.file("outbox.db"));
    ASSERT_TRUE(outbox.open(true)) << outbox.lastError().toStdString();
    QList<OutboxRecord> added;
    for (int n = 0; n < 5; ++n) {
        added << sample(n, n % 2 == 0);
        ASSERT_TRUE(outbox.add(added.last()));
    }
    // Text from a device in any script survives the round trip.
    OutboxRecord odd = sample(9, false);
    odd.engineMessage = QStringLiteral("写入失败, 'quoted'");
    added << odd;
    ASSERT_TRUE(outbox.add(odd));
    EXPECT_EQ(outbox.pendingCount(), 6);

    // A second connection, as the uploader thread has, sees the same queue.
    RecordOutbox reader(dir.file("outbox.db"));
    ASSERT_TRUE(reader.open(false));
    QList<PendingRecord> pending = reader.pending(4);
    ASSERT_EQ(pending.size(), 4);
    for (int n = 0; n < 4; ++n)
        expectSame(pending[n].record, added[n]);
    ASSERT_TRUE(reader.markUploaded({pending[0].seq, pending[1].seq}));
    ASSERT_TRUE(reader.markRejected(pending[2].seq));

    pending = outbox.pending(100);
    ASSERT_EQ(pending.size(), 3);
    expectSame(pending[0].record, added[3]);
    expectSame(pending[2].record, added[5]);
    EXPECT_EQ(outbox.pendingCount(), 3);
}

TEST(RecordOutboxTest, RecordsSurviveReopening)
{
    TempDir dir;
    const OutboxRecord record = sample(1);
    {
        RecordOutbox outbox(dir.file("outbox.db"));
        ASSERT_TRUE(outbox.open(true));
        ASSERT_TRUE(outbox.add(record));
    }
    RecordOutbox outbox(dir.file("outbox.db"));
    ASSERT_TRUE(outbox.open(true));
    const QList<PendingRecord> pending = outbox.pending(10);
    ASSERT_EQ(pending.size(), 1);
    expectSame(pending[0].record, record);
    // The same record id is queued once: adding it again changes nothing.
    EXPECT_TRUE(outbox.add(record));
    EXPECT_EQ(outbox.pendingCount(), 1);
}

TEST(RecordOutboxTest, DamagedFileIsMovedAsideAndANewOneStarted)
{
    TempDir dir;
    const QByteArray garbage(8192, 'x');
    dir.write("outbox.db", garbage);
    RecordOutbox strict(dir.file("outbox.db"));
    EXPECT_FALSE(strict.open(false));
    EXPECT_TRUE(strict.lastFailureWasCorruption());
    EXPECT_EQ(dir.read("outbox.db"), garbage); // without recovery nothing is touched

    RecordOutbox outbox(dir.file("outbox.db"));
    ASSERT_TRUE(outbox.open(true)) << outbox.lastError().toStdString();
    ASSERT_FALSE(outbox.movedAsideTo().isEmpty());
    QFile aside(outbox.movedAsideTo());
    ASSERT_TRUE(aside.open(QIODevice::ReadOnly));
    EXPECT_EQ(aside.readAll(), garbage);
    EXPECT_TRUE(outbox.add(sample(1)));
    EXPECT_EQ(outbox.pendingCount(), 1);
}

TEST(RecordOutboxTest, NoticesADeletedOrReplacedFile)
{
    TempDir dir;
    RecordOutbox outbox(dir.file("outbox.db"));
    ASSERT_TRUE(outbox.open(true));
    EXPECT_TRUE(outbox.stillOnDisk());
    ASSERT_TRUE(QFile::remove(dir.file("outbox.db")));
    EXPECT_FALSE(outbox.stillOnDisk());
    ASSERT_TRUE(outbox.open(true));
    EXPECT_TRUE(outbox.stillOnDisk());
    EXPECT_TRUE(outbox.add(sample(2)));
}

TEST(RecordOutboxTest, AFolderThatCannotHoldTheFileFails)
{
    TempDir dir;
    dir.write("not-a-folder", "x");
    RecordOutbox outbox(dir.file("not-a-folder/outbox.db"));
    EXPECT_FALSE(outbox.open(true));
    EXPECT_FALSE(outbox.lastError().isEmpty());
    EXPECT_FALSE(outbox.add(sample(1)));
    EXPECT_EQ(outbox.pendingCount(), -1);
}

// A station updated in the field keeps its outbox: the file of the first
// layout gets the new column and table, and its waiting records stay.
TEST(RecordOutboxTest, OutboxOfTheFirstLayoutIsUpgradedInPlace)
{
    TempDir dir;
    const QByteArray path = QFile::encodeName(dir.file("outbox.db"));
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.constData(), &db), SQLITE_OK);
    const char* firstLayout =
        "PRAGMA journal_mode=WAL;"
        "CREATE TABLE outbox (seq INTEGER PRIMARY KEY AUTOINCREMENT, record_id TEXT NOT NULL UNIQUE,"
        " station TEXT NOT NULL, imei TEXT NOT NULL, passed INTEGER NOT NULL, version_stem TEXT NOT NULL,"
        " device_version TEXT NOT NULL, package_version TEXT NOT NULL, recorded_at TEXT NOT NULL,"
        " line INTEGER NOT NULL, port INTEGER NOT NULL, engine_code INTEGER NOT NULL,"
        " engine_message TEXT NOT NULL, elapsed_seconds INTEGER NOT NULL, tool_version TEXT NOT NULL,"
        " queued_at INTEGER NOT NULL, uploaded INTEGER NOT NULL DEFAULT 0);"
        "CREATE INDEX outbox_pending ON outbox (uploaded, seq);"
        "INSERT INTO outbox (record_id, station, imei, passed, version_stem, device_version, package_version,"
        " recorded_at, line, port, engine_code, engine_message, elapsed_seconds, tool_version, queued_at)"
        " VALUES ('0b7d6f34-1a2b-4c3d-8e9f-001122334455', 'ST', '356938035643809', 1, 'ABC_', 'ABC_V1.0',"
        " 'ABC_V1.1', '2026-12-07T09:35:00.000+01:00', 1, 3, 0, '', 60, 'v', 0);"
        "PRAGMA user_version=1;";
    ASSERT_EQ(sqlite3_exec(db, firstLayout, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);

    RecordOutbox outbox(dir.file("outbox.db"));
    ASSERT_TRUE(outbox.open(false)) << outbox.lastError().toStdString();
    EXPECT_EQ(outbox.pendingCount(), 1);
    EXPECT_FALSE(outbox.logCheckedTo());
    const QList<PendingRecord> pending = outbox.pending(10);
    ASSERT_EQ(pending.size(), 1);
    ASSERT_TRUE(outbox.markRejected(pending[0].seq, QStringLiteral("refused")));
    ASSERT_EQ(outbox.rejected().size(), 1);
    EXPECT_EQ(outbox.rejected()[0].refusal, QStringLiteral("refused"));
    ASSERT_TRUE(outbox.setLogCheckedTo(42));
    EXPECT_EQ(outbox.logCheckedTo(), 42);
    // A second open finds it done.
    RecordOutbox again(dir.file("outbox.db"));
    ASSERT_TRUE(again.open(false)) << again.lastError().toStdString();
    EXPECT_EQ(again.rejectedCount(), 1);
}

} // namespace

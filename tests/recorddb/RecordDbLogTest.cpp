// Every record line of the record log reaches the outbox exactly once: ids
// made from the log, and the log matched against the outbox after an
// insert into the outbox failed (full disk, a busy file).
#include "app/RecordPrompter.h"
#include "recorddb/FullDiskVfs.h"
#include "recorddb/RecordDbLink.h"
#include "recorddb/RecordOutbox.h"
#include "records/RecordStore.h"
#include "support/ScriptedPrompter.h"
#include "records/RecordTestFiles.h"

#include <QCoreApplication>
#include <QSet>

#include <sqlite3.h>

#include <gtest/gtest.h>

using namespace RecordTestFiles;

namespace {

constexpr char kStation[] = "ST-07";

// The id of each record line of a plain log, as the station makes it.
QList<QByteArray> idsOfLog(const QByteArray& plain)
{
    QList<QByteArray> ids;
    qsizetype start = 0;
    for (qsizetype end = plain.indexOf('\n'); end >= 0; start = end + 1, end = plain.indexOf('\n', start)) {
        QByteArray line = plain.mid(start, end - start);
        if (line.endsWith('\r'))
            line.chop(1);
        if (RecordDbLink::parseLogLine(line))
            ids << RecordDbLink::recordIdFor(QString::fromLatin1(kStation), start, line);
    }
    return ids;
}

class RecordDbLogTest : public RecordStation
{
protected:
    void SetUp() override
    {
        RecordStation::SetUp();
        FullDiskVfs::install();
        m_store = std::make_unique<RecordStore>(m_prompts, recordFile(), dataDir(), QString::fromLatin1(kStation),
                                                false);
        m_store->SeedWorkingCopy();
    }
    void TearDown() override
    {
        FullDiskVfs::setFull(false);
        m_link.reset();
    }

    // A link whose server never answers: only the outbox matters here.
    void startLink()
    {
        m_link = std::make_unique<RecordDbLink>(
            "host=/nonexistent dbname=production", outboxPath(), QString::fromLatin1(kStation),
            QStringLiteral("Vintrel_RT40K_USV1.00.00"),
            [this](RecordDbLink::Problem problem, const QString&) {
                if (problem == RecordDbLink::Problem::Outbox)
                    ++m_outboxTold;
            },
            RecordUploader::Options{}, m_store.get());
        m_link->start();
    }
    QString outboxPath() const { return dataDir() + "record-outbox.db"; }

    // One finished line as LineController logs it.
    bool finish(int n, bool passed = true)
    {
        const LineRecord record = sampleRecord("35693803564" + QByteArray::number(1000 + n), passed);
        if (!m_store->AppendRecord(record))
            return false;
        m_link->addLineResult(record, {n % 8, 3 + n % 8, passed ? 0 : 3, QStringLiteral("block %1").arg(n), 60,
                                       QDateTime::currentDateTime()});
        return true;
    }

    QByteArray log() const { return decrypted(dataDir() + "rqvtcsv123.ds.dll"); }

    // Every record line of the log is in the outbox once, and nothing else.
    void expectOutboxMatchesLog()
    {
        RecordOutbox outbox(outboxPath());
        ASSERT_TRUE(outbox.open(false));
        QList<QByteArray> queued;
        for (const PendingRecord& p : outbox.pending(100000))
            queued << p.record.recordId;
        const QList<QByteArray> expected = idsOfLog(log());
        EXPECT_EQ(queued.size(), expected.size());
        EXPECT_EQ(QSet<QByteArray>(queued.begin(), queued.end()), QSet<QByteArray>(expected.begin(), expected.end()));
    }

    ScriptedPrompter m_prompter;
    RecordPrompter m_prompts{m_prompter};
    std::unique_ptr<RecordStore> m_store;
    std::unique_ptr<RecordDbLink> m_link;
    int m_outboxTold = 0;
};

TEST_F(RecordDbLogTest, RecordIdsComeFromTheLogLineAndKeepTheLineFacts)
{
    startLink();
    for (int n = 0; n < 3; ++n)
        ASSERT_TRUE(finish(n, n != 1));
    expectOutboxMatchesLog();
    RecordOutbox outbox(outboxPath());
    ASSERT_TRUE(outbox.open(false));
    EXPECT_EQ(outbox.logCheckedTo(), log().size());
    const QList<PendingRecord> queued = outbox.pending(10);
    ASSERT_EQ(queued.size(), 3);
    EXPECT_EQ(queued[1].record.line, 2);
    EXPECT_EQ(queued[1].record.engineCode, 3);
    EXPECT_EQ(queued[1].record.engineMessage, QStringLiteral("block 1"));
    // The same station, place and text always give the same id.
    EXPECT_EQ(RecordDbLink::recordIdFor("A", 10, "x"), RecordDbLink::recordIdFor("A", 10, "x"));
    EXPECT_NE(RecordDbLink::recordIdFor("A", 10, "x"), RecordDbLink::recordIdFor("B", 10, "x"));
    EXPECT_NE(RecordDbLink::recordIdFor("A", 10, "x"), RecordDbLink::recordIdFor("A", 11, "x"));
    EXPECT_NE(RecordDbLink::recordIdFor("A", 10, "x"), RecordDbLink::recordIdFor("A", 10, "y"));
}

TEST_F(RecordDbLogTest, OnlyRecordLinesAreTakenFromTheLog)
{
    const QByteArray line = FormatRecordLine(sampleRecord("356938035643809", false), "ST", QDateTime()).chopped(2);
    const std::optional<OutboxRecord> record = RecordDbLink::parseLogLine(line);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->imei, QStringLiteral("356938035643809"));
    EXPECT_FALSE(record->passed);
    EXPECT_EQ(record->versionStem, QStringLiteral("ABC_"));
    EXPECT_EQ(record->deviceVersion, QStringLiteral("ABC_V1.0"));
    EXPECT_EQ(record->packageVersion, QStringLiteral("ABC_V1.1"));
    EXPECT_EQ(record->recordedAt, QDateTime(QDate(2026, 12, 7), QTime(9, 35)));
    EXPECT_FALSE(RecordDbLink::parseLogLine(kTitle.chopped(2)));
    EXPECT_FALSE(RecordDbLink::parseLogLine(line.left(line.size() - 3)));
    EXPECT_FALSE(RecordDbLink::parseLogLine(QByteArray(line).replace(", FAIL, ", ", PASS, ")));
    EXPECT_FALSE(RecordDbLink::parseLogLine(""));
}

// The outbox cannot take a record: the box is told once, the log keeps the
// line, and once the disk has room again the record is taken from the log.
TEST_F(RecordDbLogTest, FullDiskLosesNoRecordForTheDatabase)
{
    startLink();
    ASSERT_TRUE(finish(0));
    FullDiskVfs::setFull(true);
    ASSERT_TRUE(finish(1, false));
    ASSERT_TRUE(finish(2));
    EXPECT_EQ(m_outboxTold, 1);
    FullDiskVfs::setFull(false);
    ASSERT_TRUE(finish(3));
    expectOutboxMatchesLog();

    // Taken from the log: what the line holds, the line facts unknown.
    RecordOutbox outbox(outboxPath());
    ASSERT_TRUE(outbox.open(false));
    const QList<PendingRecord> queued = outbox.pending(10);
    ASSERT_EQ(queued.size(), 4);
    QSet<int> unknownLines;
    for (const PendingRecord& p : queued) {
        if (p.record.line == 0)
            unknownLines.insert(p.record.imei.right(1).toInt());
    }
    EXPECT_EQ(unknownLines, (QSet<int>{1, 2}));

    // Without a further record, the status asks for the match as well.
    FullDiskVfs::setFull(true);
    ASSERT_TRUE(finish(4));
    FullDiskVfs::setFull(false);
    EXPECT_EQ(m_link->status().waiting, 5);
    expectOutboxMatchesLog();
}

TEST_F(RecordDbLogTest, BusyOutboxLosesNoRecordForTheDatabase)
{
    startLink();
    ASSERT_TRUE(finish(0));
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(outboxPath()).constData(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    // Waits for the busy file as long as the outbox does, then gives up.
    ASSERT_TRUE(finish(1));
    EXPECT_EQ(m_outboxTold, 1);
    ASSERT_EQ(sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(other);
    ASSERT_TRUE(finish(2));
    expectOutboxMatchesLog();
}

// The log started anew (its working copy deleted and seeded again): the
// mark lies beyond its end, and the new lines are still found.
TEST_F(RecordDbLogTest, LogStartedAnewIsMatchedFromItsStart)
{
    startLink();
    for (int n = 0; n < 3; ++n)
        ASSERT_TRUE(finish(n));
    m_link.reset();
    ASSERT_TRUE(QFile::remove(dataDir() + "rqvtcsv123.ds.dll"));
    m_store = std::make_unique<RecordStore>(m_prompts, recordFile(), dataDir(), QString::fromLatin1(kStation), false);
    m_store->SeedWorkingCopy();
    ASSERT_TRUE(m_store->AppendRecord(sampleRecord("356938035640001")));
    startLink();
    RecordOutbox outbox(outboxPath());
    ASSERT_TRUE(outbox.open(false));
    EXPECT_EQ(outbox.pendingCount(), 4);
    EXPECT_EQ(outbox.logCheckedTo(), log().size());
}

} // namespace

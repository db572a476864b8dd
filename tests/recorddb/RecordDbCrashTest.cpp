// The tool killed between the record log's append and the outbox's commit,
// at each point in turn and again and again on one station: after each
// restart every record line of the log is in the outbox exactly once.
#include "recorddb/RecordDbLink.h"
#include "recorddb/RecordOutbox.h"
#include "records/RecordTestFiles.h"

#include <QProcess>
#include <QSet>

#include <gtest/gtest.h>

using namespace RecordTestFiles;

namespace {

constexpr char kStation[] = "ST-09";

class RecordDbCrashTest : public RecordStation
{
protected:
    // Returns false when the child did not end as asked.
    bool runChild(const QByteArray& prefix, const char* mode, int n, bool killed)
    {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QStringLiteral(RECORDDB_CRASH_CHILD),
                    {recordFile(), dataDir(), QString::fromLatin1(kStation), QString::fromLatin1(prefix),
                     QString::fromLatin1(mode), QString::number(n)});
        if (!child.waitForFinished(60000))
            return false;
        return killed ? child.exitStatus() == QProcess::CrashExit
                      : child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0;
    }

    // Every record line of the log, by its id, and the outbox's records.
    void expectOutboxMatchesLog(const QString& when)
    {
        SCOPED_TRACE(when.toStdString());
        const QByteArray plain = decrypted(dataDir() + "rqvtcsv123.ds.dll");
        QSet<QByteArray> expected;
        qsizetype start = 0;
        for (qsizetype end = plain.indexOf('\n'); end >= 0; start = end + 1, end = plain.indexOf('\n', start)) {
            const QByteArray line = plain.mid(start, end - start).chopped(1);
            if (RecordDbLink::parseLogLine(line))
                expected.insert(RecordDbLink::recordIdFor(QString::fromLatin1(kStation), start, line));
        }
        RecordOutbox outbox(RecordDbLink::defaultOutboxPath(dataDir()));
        ASSERT_TRUE(outbox.open(false));
        const QList<PendingRecord> queued = outbox.pending(100000);
        QSet<QByteArray> ids;
        for (const PendingRecord& p : queued)
            ids.insert(p.record.recordId);
        EXPECT_EQ(ids.size(), queued.size());
        EXPECT_EQ(ids, expected);
        EXPECT_EQ(m_records, expected.size());
    }

    int m_records = 0;
};

TEST_F(RecordDbCrashTest, KilledBetweenLogAndOutboxEveryRecordIsQueuedOnce)
{
    // The first start sets the outbox's mark at the log's end.
    ASSERT_TRUE(runChild("P0N", "none", 2, false));
    m_records += 2;
    expectOutboxMatchesLog(QStringLiteral("first start"));
    int round = 0;
    for (const char* mode : {"after-log", "in-commit"}) {
        for (int n = 1; n <= 4; ++n) {
            ++round;
            const QByteArray prefix = "R" + QByteArray::number(round) + "N";
            // Killed at record n; records 1..n reached the log.
            ASSERT_TRUE(runChild(prefix, mode, n, true)) << mode << " " << n;
            m_records += n;
            // The restart takes what the log holds beyond the outbox.
            ASSERT_TRUE(runChild(prefix + "S", "none", 1, false));
            m_records += 1;
            expectOutboxMatchesLog(QStringLiteral("%1 %2").arg(QString::fromLatin1(mode)).arg(n));
            if (HasFailure())
                return;
        }
    }
}

} // namespace

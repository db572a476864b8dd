#include "app/RecordPrompter.h"
#include "records/RecordStore.h"
#include "support/ScriptedPrompter.h"
#include "support/TempDir.h"
#include "support/TestRandom.h"
#include "RecordTestFiles.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <QSet>
#include <QThread>

#include <gtest/gtest.h>

using namespace RecordTestFiles;

namespace {

QByteArray lineFor(const QByteArray& imei)
{
    return FormatRecordLine(sampleRecord(imei), {}, QDateTime());
}

class RecordCrashTest : public RecordStation
{
protected:

    // Runs one child, kills it at a random moment and collects the numbers
    // that it reported stored.
    void runAndKill(const QByteArray& prefix, bool fast)
    {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QStringLiteral(RECORDS_CRASH_CHILD),
                    {recordFile(), dataDir(), QString::fromLatin1(prefix),
                     fast ? QStringLiteral("fast") : QStringLiteral("full")});
        ASSERT_TRUE(child.waitForStarted(10000));

        const int reportsBeforeKill = m_random.bounded(-1, 8); // -1: kill during the first
        QDeadlineTimer deadline(20000);
        int reports = 0;
        while (reports <= reportsBeforeKill && !deadline.hasExpired()) {
            if (child.canReadLine() || child.waitForReadyRead(int(deadline.remainingTime())))
                while (child.canReadLine())
                    take(prefix, child.readLine(), &reports);
            ASSERT_EQ(child.state(), QProcess::Running) << "child ended by itself";
        }
        ASSERT_FALSE(deadline.hasExpired()) << "child reported no records";
        // Not a synchronisation: picks the moment of the kill within a record.
        QThread::usleep(m_random.bounded(3000));
        child.kill();
        ASSERT_TRUE(child.waitForFinished(10000));
        while (child.canReadLine())
            take(prefix, child.readLine(), &reports);
    }

    void take(const QByteArray& prefix, const QByteArray& reported, int* reports)
    {
        m_stored.insert(prefix + reported.trimmed());
        ++*reports;
    }

    // The log decrypts to whole lines: the title, records and lines that an
    // earlier check saw torn at the end; only the last line may be torn.
    void checkLog()
    {
        const QByteArray plain = decrypted(dataDir() + "rqvtcsv123.ds.dll");
        ASSERT_TRUE(plain.startsWith(kTitle));
        QList<QByteArray> lines = plain.split('\n');
        const QByteArray last = lines.takeLast();
        if (!last.isEmpty())
            m_torn.insert(last);
        QSet<QByteArray> whole;
        for (qsizetype n = 1; n < lines.size(); ++n) {
            const QByteArray line = lines[n] + '\n';
            const QByteArray imei = line.left(line.indexOf(','));
            const bool record = line == lineFor(imei);
            EXPECT_TRUE(record || m_torn.contains(lines[n]) || m_torn.contains(lines[n].chopped(1)))
                << "broken line " << n << ": " << line.toStdString();
            if (record)
                whole.insert(imei);
        }
        for (const QByteArray& imei : m_stored)
            EXPECT_TRUE(whole.contains(imei)) << "reported stored but missing: " << imei.toStdString();
    }

    TestRandom m_random;
    QSet<QByteArray> m_stored;
    QSet<QByteArray> m_torn;
};

TEST_F(RecordCrashTest, KilledWriterLeavesWholeLogWithEveryStoredRecord)
{
    {
        ScriptedPrompter prompter;
        RecordPrompter prompts(prompter);
        RecordStore seed(prompts, recordFile(), dataDir(), QString(), false);
        seed.SeedWorkingCopy();
    }
    for (int round = 0; round < 30; ++round) {
        SCOPED_TRACE(testing::Message() << "round " << round);
        // Half the writers take the full rewrite for every record.
        runAndKill("R" + QByteArray::number(round) + "N", round % 2 == 0);
        checkLog();
        if (HasFatalFailure() || HasFailure())
            return;
    }
    ScriptedPrompter prompter;
    RecordPrompter prompts(prompter);
    RecordStore store(prompts, recordFile(), dataDir(), QString(), false);
    store.SeedWorkingCopy();
    store.RemoveStaleTemporaries();
    ASSERT_TRUE(store.AppendRecord(sampleRecord("FINAL")));
    const QByteArray plain = decrypted(dataDir() + "rqvtcsv123.ds.dll");
    EXPECT_TRUE(plain.endsWith("\n" + lineFor("FINAL")));
    EXPECT_EQ(readAll(dataDir() + "rqvtcsv123.txt"), plain);
    // Temporary files of killed writers are gone.
    EXPECT_EQ(QDir(dataDir()).entryList(QDir::Files | QDir::Hidden).size(), 2);
    EXPECT_GT(m_stored.size(), 30);
}

} // namespace

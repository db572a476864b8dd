#include "core/FileOps.h"
#include "platform/ProcessEnd.h"
#include "platform/StationPaths.h"
#include "app/RecordPrompter.h"
#include "records/RecordStore.h"
#include "support/ScriptedPrompter.h"
#include "support/TempDir.h"
#include "RecordTestFiles.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <memory>

using namespace RecordTestFiles;

namespace {

LineRecord makeRecord(int number, bool passed = true)
{
    return sampleRecord("35678901234" + QByteArray::number(1000 + number), passed);
}

QByteArray lineOf(int number, bool passed = true)
{
    return FormatRecordLine(makeRecord(number, passed), {}, QDateTime());
}

// A station folder with the installed record file and an empty data folder.
class RecordStoreTest : public RecordStation
{
protected:
    void TearDown() override
    {
        FileOps::clearFaults();
        ProcessEnd::setHandler(nullptr);
    }

    std::unique_ptr<RecordStore> makeStore(bool chinese = false)
    {
        auto store = std::make_unique<RecordStore>(m_prompts, recordFile(), dataDir(), QString(), chinese);
        store->SeedWorkingCopy();
        return store;
    }
    QByteArray workingPlain() const { return decrypted(dataDir() + "rqvtcsv123.ds.dll"); }
    QByteArray scratch() const { return readAll(dataDir() + "rqvtcsv123.txt"); }

    ScriptedPrompter m_prompter;
    RecordPrompter m_prompts{m_prompter};
};

TEST_F(RecordStoreTest, ConstructionSeedsWorkingCopyAndAppendsAfterTitle)
{
    auto store = makeStore();
    EXPECT_EQ(store->WorkingCopyPath(), dataDir() + "rqvtcsv123.ds.dll");
    EXPECT_EQ(store->ScratchPath(), dataDir() + "rqvtcsv123.txt");
    EXPECT_EQ(workingPlain(), kTitle);

    ASSERT_TRUE(store->AppendRecord(makeRecord(1)));
    EXPECT_EQ(workingPlain(),
              kTitle + "356789012341001, ABC_, PASS, ABC_V1.0, 12/07/2026 09:35, Default, ABC_V1.1, "
                       "Y, Y, Y, Y, Y, Y, Y, Y, Y, Y, Y, Y\r\n");
    // The encrypted file is exactly as long as the plain one.
    EXPECT_EQ(readAll(store->WorkingCopyPath()).size(), scratch().size());
    EXPECT_TRUE(m_prompter.records().isEmpty());
}

TEST_F(RecordStoreTest, ConstructionAsksNothingSeedingAsksForAMissingRecordFile)
{
    QFile::remove(recordFile());
    RecordStore store(m_prompts, recordFile(), dataDir(), QString(), false);
    EXPECT_TRUE(m_prompter.records().isEmpty());
    m_prompter.expectMessage();
    m_prompter.expectOpenFile(QString()); // the operator cancels
    EXPECT_FALSE(store.SeedWorkingCopy());
    EXPECT_EQ(m_prompter.records().size(), 2);
    EXPECT_FALSE(QFile::exists(store.WorkingCopyPath()));
}

TEST_F(RecordStoreTest, ScratchHoldsWholeLogAfterEveryRecordAndIsPrivate)
{
    auto store = makeStore();
    QByteArray expected = kTitle;
    for (int n = 0; n < 6; ++n) {
        ASSERT_TRUE(store->AppendRecord(makeRecord(n, n % 2 == 0)));
        expected += lineOf(n, n % 2 == 0);
        EXPECT_EQ(scratch(), expected) << "after record " << n;
        EXPECT_EQ(workingPlain(), expected) << "after record " << n;
    }
    struct stat st{};
    ASSERT_EQ(::stat(QFile::encodeName(store->ScratchPath()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // No temporary file is left behind.
    EXPECT_EQ(QDir(dataDir()).entryList(QDir::Files).size(), 2);
}

TEST_F(RecordStoreTest, FastAndFullPathsWriteIdenticalFiles)
{
    auto fast = makeStore();
    TempDir other;
    QDir().mkpath(other.file("data"));
    RecordStore full(m_prompts, recordFile(), other.file("data/"), QString(), false);
    full.SeedWorkingCopy();
    full.SetFastAppend(false);
    for (int n = 0; n < 40; ++n) {
        ASSERT_TRUE(fast->AppendRecord(makeRecord(n, n % 3 != 0)));
        ASSERT_TRUE(full.AppendRecord(makeRecord(n, n % 3 != 0)));
    }
    EXPECT_EQ(readAll(fast->WorkingCopyPath()), readAll(full.WorkingCopyPath()));
    EXPECT_EQ(readAll(fast->ScratchPath()), readAll(full.ScratchPath()));
    EXPECT_EQ(decrypted(fast->WorkingCopyPath()), readAll(fast->ScratchPath()));
}

TEST_F(RecordStoreTest, FileChangedBehindTheStoreIsReadAgain)
{
    auto store = makeStore();
    ASSERT_TRUE(store->AppendRecord(makeRecord(1)));
    // Another writer replaces the log: the kept keystream no longer fits.
    writeEncrypted(store->WorkingCopyPath(), kTitle + "other writer\r\n");
    ASSERT_TRUE(store->AppendRecord(makeRecord(2)));
    EXPECT_EQ(workingPlain(), kTitle + "other writer\r\n" + lineOf(2));
    EXPECT_EQ(scratch(), workingPlain());
}

TEST_F(RecordStoreTest, WorkingCopyDeletedWhileRunningStartsAgainFromRecordFile)
{
    auto store = makeStore();
    ASSERT_TRUE(store->AppendRecord(makeRecord(1)));
    ASSERT_TRUE(QFile::remove(store->WorkingCopyPath()));
    ASSERT_TRUE(store->AppendRecord(makeRecord(2)));
    EXPECT_EQ(workingPlain(), kTitle + lineOf(2));
    EXPECT_EQ(scratch(), kTitle + lineOf(2));
}

TEST_F(RecordStoreTest, TornLogGetsLineEndBeforeNextRecord)
{
    auto store = makeStore();
    const QByteArray torn = kTitle + lineOf(1) + "356789012341002, ABC_, PA";
    writeEncrypted(store->WorkingCopyPath(), torn);
    ASSERT_TRUE(store->AppendRecord(makeRecord(3)));
    EXPECT_EQ(workingPlain(), torn + "\r\n" + lineOf(3));

    const QByteArray cutInLineEnd = kTitle + lineOf(1).chopped(1);
    writeEncrypted(store->WorkingCopyPath(), cutInLineEnd);
    ASSERT_TRUE(store->AppendRecord(makeRecord(4)));
    EXPECT_EQ(workingPlain(), kTitle + lineOf(1) + lineOf(4));
}

TEST_F(RecordStoreTest, MissingRecordFileAsksAndCancelStoresNothing)
{
    QFile::remove(recordFile());
    m_prompter.expectMessage();
    m_prompter.expectOpenFile(QString());
    auto store = makeStore();

    ASSERT_EQ(m_prompter.records().size(), 2);
    const Prompter::Message& box = m_prompter.records()[0].message;
    EXPECT_EQ(box.text, "Fail to find 'RecordCSV.sdi',please select setup folder.");
    EXPECT_EQ(box.icon, Prompter::Icon::Information);
    EXPECT_EQ(box.caption, StationPaths::applicationName());
    EXPECT_EQ(box.buttons, Prompter::Buttons::Ok);
    const Prompter::FileRequest& dialog = m_prompter.records()[1].file;
    EXPECT_EQ(dialog.proposedName, "RecordCSV.sdi");
    EXPECT_EQ(dialog.filter, "QVR Record File(*.sdi) | *.sdi; ||");
    EXPECT_TRUE(dialog.overwritePrompt);
    EXPECT_FALSE(dialog.ownedByWindow);

    // Each later record asks again.
    m_prompter.expectMessage();
    m_prompter.expectOpenFile(QString());
    EXPECT_FALSE(store->AppendRecord(makeRecord(1)));
    EXPECT_EQ(m_prompter.records().size(), 4);
    EXPECT_TRUE(QDir(dataDir()).entryList(QDir::Files).isEmpty());
}

TEST_F(RecordStoreTest, RecordFileChosenByOperatorSeedsTheLog)
{
    const QString elsewhere = m_dir.file("elsewhere.sdi");
    QFile::rename(recordFile(), elsewhere);
    m_prompter.expectMessage();
    m_prompter.expectOpenFile(elsewhere);
    auto store = makeStore(true);
    EXPECT_EQ(m_prompter.records()[0].message.text,
              QStringLiteral("原始文件查找失败，请指定安装文件夹下'RecordCSV.sdi'文件路径."));
    EXPECT_EQ(m_prompter.records()[0].message.icon, Prompter::Icon::Exclamation);
    EXPECT_EQ(store->RecordFilePath(), elsewhere);
    EXPECT_EQ(workingPlain(), kTitle);

    // The chosen file serves again when the working copy disappears.
    QFile::remove(store->WorkingCopyPath());
    ASSERT_TRUE(store->AppendRecord(makeRecord(1)));
    EXPECT_EQ(workingPlain(), kTitle + lineOf(1));
}

// Every write, sync and rename of an append fails once in turn: the files
// are always the old or the new log, and the next record lands cleanly.
TEST_F(RecordStoreTest, FailedWriteSyncOrRenameLeavesOldOrNewLog)
{
    const FileOps::Op ops[] = {FileOps::Op::Write, FileOps::Op::Sync, FileOps::Op::Rename};
    for (bool fast : {true, false}) {
        for (FileOps::Op op : ops) {
            for (int err : {ENOSPC, EIO}) {
                int failures = 0;
                for (int nth = 1; nth <= 12; ++nth) {
                    SCOPED_TRACE(testing::Message() << "fast " << fast << " op " << int(op)
                                                    << " errno " << err << " nth " << nth);
                    TempDir dir;
                    QDir().mkpath(dir.file("data"));
                    RecordStore store(m_prompts, recordFile(), dir.file("data/"), QString(), false);
                    store.SeedWorkingCopy();
                    store.SetFastAppend(fast);
                    ASSERT_TRUE(store.AppendRecord(makeRecord(1)));
                    const QByteArray before = kTitle + lineOf(1);
                    const QByteArray after = before + lineOf(2);

                    FileOps::failNth(op, nth, err);
                    const bool stored = store.AppendRecord(makeRecord(2));
                    const bool hit = !FileOps::faultPending(op);
                    FileOps::clearFaults();
                    if (hit)
                        ++failures;

                    const QByteArray log = decrypted(store.WorkingCopyPath());
                    const QByteArray plain = readAll(store.ScratchPath());
                    EXPECT_TRUE(log == before || log == after);
                    EXPECT_TRUE(plain == before || plain == after);
                    if (stored) {
                        EXPECT_EQ(log, after);
                        EXPECT_EQ(plain, after);
                    }
                    EXPECT_EQ(QDir(dir.file("data")).entryList(QDir::Files).size(), 2);

                    ASSERT_TRUE(store.AppendRecord(makeRecord(3)));
                    EXPECT_EQ(decrypted(store.WorkingCopyPath()), log + lineOf(3));
                    EXPECT_EQ(readAll(store.ScratchPath()), log + lineOf(3));
                }
                // An append in place renames nothing.
                if (!fast || op != FileOps::Op::Rename) {
                    EXPECT_GT(failures, 0);
                }
            }
        }
    }
    EXPECT_TRUE(m_prompter.records().isEmpty());
}

int g_endStatus = -1;
void recordEnd(int status)
{
    g_endStatus = status;
}

TEST_F(RecordStoreTest, CallWhileFatalBoxIsUpIsRefused)
{
    auto store = makeStore();
    ASSERT_TRUE(QFile::remove(store->WorkingCopyPath()));
    ASSERT_TRUE(QDir().mkpath(store->WorkingCopyPath())); // unreadable as a file
    ProcessEnd::setHandler(recordEnd);
    g_endStatus = -1;
    for (int n = 0; n < 4; ++n)
        m_prompter.expectMessage();
    bool nested = true;
    m_prompter.onNextMessage([&](const Prompter::Message&) {
        nested = store->AppendRecord(makeRecord(9));
    });
    EXPECT_FALSE(store->AppendRecord(makeRecord(1)));
    EXPECT_FALSE(nested);
    EXPECT_EQ(g_endStatus, 1);
    EXPECT_EQ(m_prompter.messageTexts().value(1), "Error opening ciphertext file!");
}

} // namespace

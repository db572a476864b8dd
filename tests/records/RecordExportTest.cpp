#include "platform/StationPaths.h"
#include "app/RecordPrompter.h"
#include "records/RecordStore.h"
#include "support/PythonCsv.h"
#include "support/ScriptedPrompter.h"
#include "support/TempDir.h"
#include "RecordTestFiles.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <memory>

using namespace RecordTestFiles;

namespace {

LineRecord makeRecord(const QByteArray& imei, bool passed)
{
    return sampleRecord(imei, passed);
}

class RecordExportTest : public RecordStation
{
protected:
    std::unique_ptr<RecordStore> makeStore(const QString& stationId = {}, bool chinese = false)
    {
        auto store = std::make_unique<RecordStore>(m_prompts, recordFile(), m_dir.file("data/"),
                                                   stationId, chinese);
        store->SeedWorkingCopy();
        return store;
    }
    QString csvFile() const { return m_dir.file("out.csv"); }
    // Exports to csvFile() through the save dialog and the result message.
    bool exportCsv(RecordStore& store)
    {
        m_prompter.expectSaveFile(csvFile());
        m_prompter.expectMessage();
        return store.ExportRecords();
    }
    const Prompter::Message& lastMessage() const { return m_prompter.records().last().message; }

    ScriptedPrompter m_prompter;
    RecordPrompter m_prompts{m_prompter};
};

TEST_F(RecordExportTest, ProposesStationNameAndCancelWritesNothing)
{
    auto store = makeStore();
    EXPECT_EQ(store->ProposedExportName(), "Default.csv");
    m_prompter.expectSaveFile(QString());
    EXPECT_FALSE(store->ExportRecords());
    ASSERT_EQ(m_prompter.records().size(), 1);
    const Prompter::FileRequest& dialog = m_prompter.records()[0].file;
    EXPECT_EQ(dialog.proposedName, "Default.csv");
    EXPECT_EQ(dialog.filter, "csv file(*.csv) | *.csv; ||");
    EXPECT_TRUE(dialog.overwritePrompt);
    EXPECT_FALSE(dialog.ownedByWindow);
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files).size(), 0);

    EXPECT_EQ(makeStore(QStringLiteral("line-pc-3"))->ProposedExportName(), "line-pc-3.csv");
}

TEST_F(RecordExportTest, ExportEqualsDecryptedLogAndReplacesOldFile)
{
    auto store = makeStore();
    ASSERT_TRUE(store->AppendRecord(makeRecord("356789012345671", true)));
    ASSERT_TRUE(store->AppendRecord(makeRecord("356789012345672", false)));
    const QString target = m_dir.file("out.csv");
    writeRaw(target, QByteArray(5000, 'o'));
    const QByteArray logBefore = readAll(store->WorkingCopyPath());

    m_prompter.expectSaveFile(target);
    m_prompter.expectMessage();
    ASSERT_TRUE(store->ExportRecords());

    const QByteArray exported = readAll(target);
    EXPECT_EQ(exported, decrypted(store->WorkingCopyPath()));
    EXPECT_TRUE(exported.startsWith(kTitle));
    EXPECT_TRUE(exported.endsWith(
        FormatRecordLine(makeRecord("356789012345672", false), {}, QDateTime())));
    EXPECT_EQ(readAll(store->WorkingCopyPath()), logBefore);
    EXPECT_EQ(lastMessage().text, "CSV file save success!");
    EXPECT_EQ(lastMessage().icon, Prompter::Icon::Information);
    EXPECT_EQ(lastMessage().caption, StationPaths::applicationName());

    // Records after an export still land in place.
    ASSERT_TRUE(store->AppendRecord(makeRecord("356789012345673", true)));
    EXPECT_EQ(decrypted(store->WorkingCopyPath()), readAll(store->ScratchPath()));
}

TEST_F(RecordExportTest, MessagesFollowChineseFlag)
{
    auto store = makeStore(QString(), true);
    m_prompter.expectSaveFile(m_dir.file("out.csv"));
    m_prompter.expectMessage();
    ASSERT_TRUE(store->ExportRecords());
    EXPECT_EQ(lastMessage().text, QStringLiteral("CSV文件导出成功!"));
    EXPECT_EQ(lastMessage().icon, Prompter::Icon::Information);

    m_prompter.expectSaveFile(m_dir.file("no/such/folder/out.csv"));
    m_prompter.expectMessage();
    EXPECT_FALSE(store->ExportRecords());
    EXPECT_EQ(lastMessage().text, QStringLiteral("CSV格式记录文件导出失败!"));
    EXPECT_EQ(lastMessage().icon, Prompter::Icon::Exclamation);
}

TEST_F(RecordExportTest, UnwritableTargetShowsFailure)
{
    auto store = makeStore();
    m_prompter.expectSaveFile(m_dir.file("no/such/folder/out.csv"));
    m_prompter.expectMessage();
    EXPECT_FALSE(store->ExportRecords());
    EXPECT_EQ(lastMessage().text, "Export record CSV failed!");
    EXPECT_EQ(lastMessage().icon, Prompter::Icon::Error);
}

TEST_F(RecordExportTest, NoWorkingCopyAndCancelledOpenDialogShowsNothingMore)
{
    QFile::remove(recordFile());
    m_prompter.expectMessage();
    m_prompter.expectOpenFile(QString());
    auto store = makeStore();
    m_prompter.expectMessage();
    m_prompter.expectOpenFile(QString());
    EXPECT_FALSE(store->ExportRecords());
    EXPECT_EQ(m_prompter.records().size(), 4);
}

// An independent CSV reader sees nineteen columns on every line, also when
// the device sent separators or a formula.
TEST_F(RecordExportTest, PythonCsvReadsNineteenColumnsOnEveryLine)
{
    auto store = makeStore(QStringLiteral("line,pc"));
    ASSERT_TRUE(store->AppendRecord(makeRecord("356789012345671", true)));
    LineRecord odd = makeRecord("=1+2", false);
    odd.deviceVersion = "ABC_V1.0,\r\nbeta";
    odd.packageVersion = "-ABC\n";
    ASSERT_TRUE(store->AppendRecord(odd));
    ASSERT_TRUE(store->AppendRecord(makeRecord("356789012345673", true)));
    ASSERT_TRUE(exportCsv(*store));

    const QList<QByteArray> out = PythonCsv::run(QStringLiteral("import csv, sys\n"
                                                                "with open(sys.argv[1], newline='') as f:\n"
                                                                "    rows = list(csv.reader(f, skipinitialspace=True))\n"
                                                                "print(' '.join(str(len(r)) for r in rows))\n"
                                                                "print(rows[2][0] + '|' + rows[2][3] + '|' + rows[2][6])\n"),
                                                 csvFile())
                                      .split('\n');
    ASSERT_GE(out.size(), 2);
    EXPECT_EQ(out[0], "19 19 19 19");
    EXPECT_EQ(out[1], "'=1+2|ABC_V1.0;  beta|'-ABC ");
}

// Fields from devices that a spreadsheet would run as formulas, also after
// a tab or a line end, go out neutralised; Python's csv module reads the
// export as the spreadsheet's import would.
TEST_F(RecordExportTest, ExportHasNoFormulaCellAsPythonReadsIt)
{
    if (QStandardPaths::findExecutable(QStringLiteral("python3")).isEmpty())
        GTEST_SKIP() << "python3 not found";
    auto store = makeStore();
    LineRecord r = makeRecord("\t=HYPERLINK(\"http://x\")", false);
    r.versionStem = "\r=1+1";
    r.deviceVersion = "\t\r\n-2+3";
    r.packageVersion = " @SUM(1), +cmd";
    ASSERT_TRUE(store->AppendRecord(r));
    ASSERT_TRUE(exportCsv(*store));

    // The title and the record, nineteen columns each, no formula.
    EXPECT_EQ(PythonCsv::run(QString::fromLatin1(PythonCsv::kReadRows) + "for row in rows:\n    print(len(row))\n"
                                 + PythonCsv::kPrintFormulaCells,
                             csvFile()),
              "19\n19\n");
}

} // namespace

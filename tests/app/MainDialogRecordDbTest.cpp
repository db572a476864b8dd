// The window with the record database switched on by config.ini: the
// menu entry, line results reaching the server with their line facts, and
// a link that fails told once while the lines keep recording.
#include "WindowFixture.h"

#include "recorddb/PgConnection.h"
#include "recorddb/RecordDbSchema.h"
#include "recorddb/RecordDbTestSupport.h"
#include "recorddb/RecordOutbox.h"
#include "settings/VersionFileReader.h"

#include <QMenu>
#include <QMenuBar>
#include <QSysInfo>

using namespace MainWindowLayout;

class MainDialogRecordDb : public WindowFixture
{
protected:
    // Lines 1 and 2 on ports 3 and 4, a package read, and the URL.
    bool openWithUrl(const QByteArray& url)
    {
        plug(3);
        plug(4, "ABC_DE_V1.0,ABC_DE_INT_V1.0,356938035643817");
        const QString package = makePackage();
        writeConfig("[GET_DLL_Setting]\nPORTS=3,4\nITEM_VERSIONFILE_PATH=" + package.toUtf8() + "\n[RECORD_DB]\nURL="
                    + url + "\n");
        return open() && waitFor([&] { return !m_window->VersionReader().internalVersion().isEmpty(); });
    }
    QList<QAction*> firstMenu() const
    {
        return m_window->findChild<QMenuBar*>()->actions().at(0)->menu()->actions();
    }
    // Line 1 fails with an engine message and code 3; line 2 passes.
    void runTwoLines()
    {
        m_engine.setDownload([](ScriptedEngine& e, int line, int) {
            if (line == 0) {
                e.message(line, "Writing failed at block 7");
                e.result(line, 3);
            } else {
                e.result(line, 0);
            }
        });
        m_window->StartLine(0);
        waitLineIdle(0);
        m_window->StartLine(1);
        waitLineIdle(1);
    }
    // Record lines of the two test devices in the plain log.
    int logLines() const { return int(m_data.read(QStringLiteral("rqvtcsv123.txt")).count("3569380356438")); }
};

TEST_F(MainDialogRecordDb, WithoutUrlNothingOfItRuns)
{
    plug(3);
    writeConfig("[GET_DLL_Setting]\nPORTS=3\n[RECORD_DB]\nURL=\n");
    ASSERT_TRUE(open());
    EXPECT_EQ(firstMenu().size(), 2);
    EXPECT_EQ(m_window->MenuCommand(CmdDbStatus), nullptr);
    EXPECT_FALSE(m_data.exists(QStringLiteral("record-outbox.db")));
}

TEST_F(MainDialogRecordDb, LineResultsReachTheDatabaseWithTheirLineFacts)
{
    REQUIRE_PG_SERVER(server);
    const QByteArray db = server->createDatabase();
    ASSERT_TRUE(openWithUrl(db));
    const QList<QAction*> entries = firstMenu();
    ASSERT_EQ(entries.size(), 3);
    EXPECT_EQ(entries[2], m_window->MenuCommand(CmdDbStatus));
    EXPECT_EQ(entries[2]->text(), text("IDC_EXE_DB_STATUS"));
    runTwoLines();
    EXPECT_EQ(logLines(), 2) << "the record log keeps every record as before";
    ASSERT_TRUE(RecordDbTest::waitFor([&] {
        return PgTestServer::query(db, "SELECT count(*) FROM download_records").value(0).value(0) == "2";
    }));
    const QString station = QSysInfo::machineHostName().isEmpty() ? QStringLiteral("Default")
                                                                    : QSysInfo::machineHostName();
    const QList<QStringList> rows = PgTestServer::query(
        db, "SELECT station, imei, result, line, port, engine_code, engine_message, device_version,"
            " package_version, version_stem, tool_version FROM download_records ORDER BY line");
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0], (QStringList{station, "356938035643809", "FAIL", "1", "3", "3", "Writing failed at block 7",
                                    "ABC_DE_V1.0", "ABC_DE_V2.3", "ABC_DE_", "Vintrel_RT40K_USV1.00.00"}));
    EXPECT_EQ(rows[1], (QStringList{station, "356938035643817", "PASS", "2", "4", "0", "", "ABC_DE_V1.0",
                                    "ABC_DE_V2.3", "ABC_DE_", "Vintrel_RT40K_USV1.00.00"}));

    // The server's count comes a moment before the outbox's mark.
    RecordOutbox outbox(m_data.file(QStringLiteral("record-outbox.db")));
    ASSERT_TRUE(outbox.open(false));
    ASSERT_TRUE(RecordDbTest::waitFor([&] { return outbox.pendingCount() == 0; }));
    m_prompter.expectMessage();
    entries[2]->trigger();
    ASSERT_EQ(m_prompter.records().size(), 1);
    const Prompter::Message box = m_prompter.records().last().message;
    EXPECT_EQ(box.caption, QStringLiteral("Vintrel_Tool"));
    EXPECT_TRUE(box.text.contains(QStringLiteral("postgres@"))) << box.text.toStdString();
    EXPECT_TRUE(box.text.contains(QStringLiteral("Records waiting: 0"))) << box.text.toStdString();
}

TEST_F(MainDialogRecordDb, UnreachableDatabaseIsToldOnceAndLinesKeepRecording)
{
    m_prompter.expectMessage(); // may come while the window still sets up
    ASSERT_TRUE(openWithUrl("host=/nonexistent dbname=production"));
    ASSERT_TRUE(RecordDbTest::waitFor([&] { return m_prompter.records().size() == 1; }));
    const Prompter::Message told = m_prompter.records().last().message;
    EXPECT_EQ(told.caption, QStringLiteral("Vintrel_Tool"));
    EXPECT_TRUE(told.text.startsWith(text("IDC_EXE_DB_LINKFAIL"))) << told.text.toStdString();

    runTwoLines();
    EXPECT_EQ(logLines(), 2);
    EXPECT_EQ(badge(0), QStringLiteral("FAIL"));
    EXPECT_EQ(badge(1), QStringLiteral("PASS"));

    m_prompter.expectMessage();
    m_window->OnDbStatus();
    ASSERT_EQ(m_prompter.records().size(), 2) << "the outage was told once";
    const QString status = m_prompter.records().last().message.text;
    EXPECT_TRUE(status.contains(QStringLiteral("Records waiting: 2"))) << status.toStdString();
    EXPECT_TRUE(status.contains(QStringLiteral("Link: not working"))) << status.toStdString();
}

TEST_F(MainDialogRecordDb, DamagedOutboxIsToldAndRecordsStillGoToLogAndServer)
{
    REQUIRE_PG_SERVER(server);
    const QByteArray db = server->createDatabase();
    m_data.write(QStringLiteral("record-outbox.db"), QByteArray(4096, '\x33'));
    m_prompter.expectMessage();
    ASSERT_TRUE(openWithUrl(db));
    // The box comes from a queued call, after the window's set-up returned.
    ASSERT_TRUE(waitFor([&] { return m_prompter.records().size() == 1; }));
    const QString told = m_prompter.records().last().message.text;
    EXPECT_TRUE(told.startsWith(text("IDC_EXE_DB_OUTBOXFAIL"))) << told.toStdString();
    EXPECT_TRUE(told.contains(QStringLiteral("record-outbox.db.corrupt-"))) << told.toStdString();

    runTwoLines();
    EXPECT_EQ(logLines(), 2);
    EXPECT_TRUE(RecordDbTest::waitFor([&] {
        return PgTestServer::query(db, "SELECT count(*) FROM download_records").value(0).value(0) == "2";
    }));
}

TEST_F(MainDialogRecordDb, RejectedRecordsAreCountedInTheStatusBox)
{
    REQUIRE_PG_SERVER(server);
    const QByteArray db = server->createDatabase();
    {
        PgConnection conn;
        ASSERT_TRUE(conn.connect(db, std::chrono::seconds(30)));
        ASSERT_TRUE(RecordDbSchema::Ensure(conn, std::chrono::seconds(30)));
        // The database's own rule refuses line 1's failure (engine code 3).
        ASSERT_TRUE(conn.exec("ALTER TABLE download_records ADD CONSTRAINT no_code_3 CHECK (engine_code <> 3)",
                              std::chrono::seconds(30)));
    }
    ASSERT_TRUE(openWithUrl(db));
    runTwoLines();
    RecordOutbox outbox(m_data.file(QStringLiteral("record-outbox.db")));
    ASSERT_TRUE(outbox.open(false));
    ASSERT_TRUE(RecordDbTest::waitFor([&] { return outbox.pendingCount() == 0; }));
    EXPECT_EQ(PgTestServer::query(db, "SELECT count(*) FROM download_records").value(0).value(0), "1");

    m_prompter.expectMessage();
    m_window->OnDbStatus();
    ASSERT_EQ(m_prompter.records().size(), 1) << "a refused record is not a box of its own";
    const QString status = m_prompter.records().last().message.text;
    EXPECT_TRUE(status.contains(QStringLiteral("Records waiting: 0"))) << status.toStdString();
    EXPECT_TRUE(status.contains(QStringLiteral("Records rejected by the database: 1 (listed by "
                                               "tools/station-report --rejected)")))
        << status.toStdString();
    EXPECT_TRUE(status.contains(QStringLiteral("no_code_3"))) << status.toStdString();
}

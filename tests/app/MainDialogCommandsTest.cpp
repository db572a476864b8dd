#include "WindowFixture.h"

#include "app/PortConfigDialog.h"
#include "platform/Shell.h"
#include "settings/VersionFileReader.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QTimer>

#include <condition_variable>
#include <mutex>

using namespace MainWindowLayout;

class MainDialogCommands : public WindowFixture
{
protected:
    QLineEdit* versionField() const { return m_window->findChild<QLineEdit*>(QStringLiteral("id1011")); }

    // Answers the next Port Config dialog: fn sees it, then OK or Cancel.
    void answerPortConfig(std::function<void(PortConfigDialog&)> fn, bool ok)
    {
        QTimer::singleShot(0, [fn, ok] {
            auto* dialog = qobject_cast<PortConfigDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            fn(*dialog);
            ok ? dialog->accept() : dialog->reject();
        });
    }
    QStringList entries(PortConfigDialog& dialog, int line)
    {
        QStringList list;
        for (int i = 0; i < dialog.combo(line)->count(); ++i)
            list << dialog.combo(line)->itemText(i);
        return list;
    }
};

TEST_F(MainDialogCommands, ChoosingADirectoryStoresAnnouncesAndReadsIt)
{
    ASSERT_TRUE(open());
    const QString package = makePackage();
    m_prompter.expectFolder(package);
    m_window->OnVersionDirectory();
    const auto& request = m_prompter.records().constFirst().folder;
    EXPECT_EQ(request.title, QStringLiteral("Please select software version directory"));
    EXPECT_EQ(versionField()->text(), package);
    EXPECT_TRUE(config().contains("ITEM_VERSIONFILE_PATH=" + package.toUtf8()));
    EXPECT_EQ(m_engine.reloads(), 1);
    ASSERT_TRUE(waitFor([&] { return m_window->VersionReader().internalVersion() == "ABC_DE_INT_V2.3"; }));
    EXPECT_EQ(m_window->VersionReader().displayVersion(), QByteArray("ABC_DE_V2.3"));

    // The same directory again: the versions are read anew.
    m_station.write(QStringLiteral("pkg-ABC_DE_V2.3/system.img"),
                    "\nro.build.display.id=ABC_DE_V2.4\nro.build.sw_internal_version=ABC_DE_INT_V2.4\n");
    m_prompter.expectFolder(package);
    m_window->OnVersionDirectory();
    EXPECT_EQ(m_prompter.records().last().folder.startDir, package);
    ASSERT_TRUE(waitFor([&] { return m_window->VersionReader().internalVersion() == "ABC_DE_INT_V2.4"; }));
}

TEST_F(MainDialogCommands, UnreadableVersionFileIsReportedByTheWindow)
{
    // A folder named system.img opens but cannot be read, also for root.
    QDir().mkpath(m_station.file(QStringLiteral("broken/system.img")));
    writeConfig("[GET_DLL_Setting]\nITEM_VERSIONFILE_PATH=" + m_station.file(QStringLiteral("broken")).toUtf8() + "\n");
    m_prompter.expectMessage();
    ASSERT_TRUE(open());
    ASSERT_TRUE(waitFor([&] { return m_prompter.pending() == 0; }));
    const Prompter::Message& box = m_prompter.records().constFirst().message;
    EXPECT_EQ(box.caption, QStringLiteral("Error"));
    EXPECT_EQ(box.text, QStringLiteral("can't open version file!"));
    EXPECT_FALSE(box.ownedByWindow);
}

TEST_F(MainDialogCommands, CancelledChoiceChangesNothing)
{
    const QString package = makePackage();
    writeConfig("[GET_DLL_Setting]\nITEM_VERSIONFILE_PATH=" + package.toUtf8() + "\n");
    ASSERT_TRUE(open());
    ASSERT_TRUE(waitFor([&] { return !m_window->VersionReader().internalVersion().isEmpty(); }));
    const QByteArray before = config();
    m_prompter.expectFolder(QString());
    m_window->OnVersionDirectory();
    EXPECT_EQ(versionField()->text(), package);
    EXPECT_EQ(config(), before);
    EXPECT_EQ(m_window->VersionReader().internalVersion(), QByteArray("ABC_DE_INT_V2.3"));
    EXPECT_EQ(m_engine.reloads(), 0);
}

TEST_F(MainDialogCommands, TooLongADirectoryIsRefusedNotCut)
{
    ASSERT_TRUE(open());
    const QByteArray before = config();
    m_prompter.expectFolder(QStringLiteral("/") + QString(4100, QLatin1Char('d')));
    m_prompter.expectMessage();
    m_window->OnVersionDirectory();
    EXPECT_EQ(m_prompter.messageTexts(), QStringList{QStringLiteral("The path has invalid character,please input again!")});
    EXPECT_TRUE(versionField()->text().isEmpty());
    EXPECT_EQ(config(), before);
    EXPECT_EQ(m_engine.reloads(), 0);
}

TEST_F(MainDialogCommands, CommandsAreRefusedWhileALineRuns)
{
    plug(3);
    const QString package = makePackage();
    writeConfig("[GET_DLL_Setting]\nPORTS=3\nITEM_VERSIONFILE_PATH=" + package.toUtf8() + "\n");
    ASSERT_TRUE(open());
    std::mutex mutex;
    std::condition_variable cv;
    bool release = false;
    m_engine.setDownload([&](ScriptedEngine& e, int line, int) {
        std::unique_lock lock(mutex);
        cv.wait(lock, [&] { return release; });
        e.result(line, 0);
    });
    m_window->StartLine(0);
    for (int i = 0; i < 4; ++i)
        m_prompter.expectMessage();
    m_window->OnVersionDirectory();
    m_window->OnPortConfig();
    m_window->OnExportRecords();
    m_window->OnClearCounters();
    EXPECT_EQ(m_prompter.messageTexts(), QStringList(4, text("IDC_EXE_INFO_RUNNING")));
    {
        std::lock_guard lock(mutex);
        release = true;
    }
    cv.notify_all();
    waitLineIdle(0);
}

TEST_F(MainDialogCommands, PortConfigListsPortsAndBindsTheChoice)
{
    ASSERT_TRUE(open());
    m_engine.setPorts({12, 3});
    QStringList listed;
    QString shown;
    answerPortConfig([&](PortConfigDialog& d) {
        listed = entries(d, 0);
        shown = d.combo(0)->currentText();
        EXPECT_TRUE(d.combo(4)->isVisibleTo(&d));
        EXPECT_FALSE(d.combo(5)->isVisibleTo(&d));
        d.combo(1)->setCurrentText(QStringLiteral("USB_012"));
    }, true);
    m_window->OnPortConfig();
    EXPECT_EQ(listed, (QStringList{"NULL", "USB_003", "USB_012"}));
    EXPECT_EQ(shown, QStringLiteral("NULL"));
    EXPECT_EQ(m_window->LineStateOf(1).port.number, 12);
    EXPECT_EQ(label(ids(1).port)->text(), QStringLiteral("USB_012"));
    EXPECT_TRUE(config().contains("PORTS=0,12,0,0,0,0,0,0"));
    EXPECT_EQ(infoText(1), text("IDC_EXE_INFO_NODEVICE")); // scanned again
}

TEST_F(MainDialogCommands, PortConfigKeepsNamesFromTheConfiguration)
{
    ASSERT_TRUE(openWithPorts("5"));
    QString shown;
    answerPortConfig([&](PortConfigDialog& d) { shown = d.combo(0)->currentText(); }, true);
    m_window->OnPortConfig();
    EXPECT_EQ(shown, QStringLiteral("USB_5"));
    EXPECT_EQ(m_window->LineStateOf(0).port.number, 5);
    EXPECT_TRUE(config().contains("PORTS=5,0,0,0,0,0,0,0"));
}

TEST_F(MainDialogCommands, PortConfigCancelStillWritesAndRescans)
{
    ASSERT_TRUE(openWithPorts("3"));
    const int queries = m_engine.queries();
    answerPortConfig([](PortConfigDialog& d) { d.combo(0)->setCurrentText(QStringLiteral("USB_009")); }, false);
    m_window->OnPortConfig();
    EXPECT_EQ(label(ids(0).port)->text(), QStringLiteral("USB_3"));
    EXPECT_TRUE(config().contains("PORTS=3,0,0,0,0,0,0,0"));
    EXPECT_GT(m_engine.queries(), queries);
}

TEST_F(MainDialogCommands, PortConfigTypedTexts)
{
    ASSERT_TRUE(open());
    answerPortConfig([](PortConfigDialog& d) {
        d.combo(2)->setEditText(QStringLiteral("COM3"));
        d.combo(3)->setEditText(QStringLiteral("null"));
        d.combo(4)->setEditText(QStringLiteral("usb_9"));
    }, true);
    m_window->OnPortConfig();
    EXPECT_EQ(label(ids(2).port)->text(), QStringLiteral("COM3"));
    EXPECT_EQ(m_window->LineStateOf(2).port.number, 0);
    EXPECT_EQ(label(ids(3).port)->text(), QStringLiteral("null"));
    EXPECT_EQ(m_window->LineStateOf(3).port.number, 0);
    EXPECT_EQ(m_window->LineStateOf(4).port.number, 9);
    EXPECT_TRUE(config().contains("PORTS=0,0,0,0,9,0,0,0"));
}

namespace {
QString g_started;
}

TEST_F(MainDialogCommands, PortManagementProgramStartsFromTheDialog)
{
    ASSERT_TRUE(open());
    g_started.clear();
    Shell::setHook([](const QString& path) { g_started = path; });
    answerPortConfig([](PortConfigDialog& d) {
        d.findChild<QPushButton*>(QStringLiteral("id1093"))->click();
        EXPECT_TRUE(d.isVisible());
    }, true);
    m_window->OnPortConfig();
    Shell::setHook(nullptr);
    EXPECT_EQ(g_started, m_station.file(QStringLiteral("PortWarden")));
}

TEST_F(MainDialogCommands, ClearAsksAndResetsTheCurrentPair)
{
    ASSERT_TRUE(open());
    m_prompter.expectMessage(Prompter::Answer::No);
    m_window->OnClearCounters();
    const auto& question = m_prompter.records().constFirst().message;
    EXPECT_EQ(question.caption, QStringLiteral("Clean"));
    EXPECT_EQ(question.text, text("IDC_EXE_INFO_CLEAN"));
    EXPECT_EQ(question.buttons, Prompter::Buttons::YesNo);
    EXPECT_EQ(question.defaultAnswer, Prompter::Answer::No);
    EXPECT_EQ(label(IdClearTime)->text(), QStringLiteral("00/00/0000 00:00:00"));

    m_clock.set(QDateTime(QDate(2026, 12, 7), QTime(9, 35, 10)));
    m_window->OnTimer(MainDialog::kClockTimer);
    m_prompter.expectMessage(Prompter::Answer::Yes);
    m_window->OnClearCounters();
    EXPECT_EQ(label(IdSuccessCounts)->text(), QStringLiteral("0/0"));
    EXPECT_EQ(label(IdClearTime)->text(), QStringLiteral("12/07/2026 09:35:10"));
}

TEST_F(MainDialogCommands, ExportProposesTheStationNameAndCanBeCancelled)
{
    ASSERT_TRUE(open());
    m_prompter.expectSaveFile(QString());
    m_window->OnExportRecords();
    ASSERT_EQ(m_prompter.records().size(), 1);
    const auto& request = m_prompter.records()[0].file;
    EXPECT_TRUE(request.proposedName.endsWith(QStringLiteral(".csv")));
    EXPECT_EQ(request.filter, QStringLiteral("csv file(*.csv) | *.csv; ||"));
    EXPECT_TRUE(request.overwritePrompt); // the save dialog asks before replacing a file
}

// A unit that becomes ready while Port Config is open waits until the dialog
// has closed: a line must not start under a dialog that may rebind it.
TEST_F(MainDialogCommands, AutoStartWaitsWhileADialogIsOpen)
{
    const QString package = makePackage();
    writeConfig("[DLOption]\nAutoStart=1\nAutoStartDelayMs=0\n[GET_DLL_Setting]\nPORTS=3\nITEM_VERSIONFILE_PATH="
                + package.toUtf8() + "\n");
    ASSERT_TRUE(open());
    bool startedWhileOpen = true;
    answerPortConfig(
        [&](PortConfigDialog&) {
            plug(3);
            m_engine.deviceChanged(1);
            ASSERT_TRUE(m_window->Lines().AutoStartPending(0));
            m_window->Lines().OnAutoStartTimer(0);
            startedWhileOpen = m_window->LineStateOf(0).running;
            EXPECT_EQ(badge(0), QStringLiteral("READY"));
        },
        false);
    m_window->OnPortConfig();
    EXPECT_FALSE(startedWhileOpen);
    ASSERT_TRUE(waitFor([&] { return badge(0) == QStringLiteral("PASS"); }));
    waitLineIdle(0);
    EXPECT_EQ(m_engine.downloads(), 1);
}

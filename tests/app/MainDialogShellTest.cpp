#include "WindowFixture.h"

#include "app/AboutDialog.h"
#include "platform/Shell.h"
#include "platform/SingleInstance.h"
#include "settings/StationConfig.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMenuBar>
#include <QTest>
#include <QTimer>

using namespace MainWindowLayout;

class MainDialogShell : public WindowFixture
{
};

TEST_F(MainDialogShell, StartsWithEveryRowIdle)
{
    ASSERT_TRUE(open());
    EXPECT_EQ(m_window->windowTitle(), QStringLiteral("Vintrel_RT40K_USV1.00.00"));
    for (int line = 0; line < 8; ++line) {
        SCOPED_TRACE(line);
        EXPECT_FALSE(button(ids(line).button)->isEnabled());
        EXPECT_EQ(label(ids(line).elapsed)->text(), QStringLiteral("0:00"));
        EXPECT_EQ(infoText(line), QString());
        EXPECT_EQ(bar(ids(line).progress)->value(), 0);
        EXPECT_EQ(label(ids(line).percent)->text(), QStringLiteral("0/100"));
        EXPECT_EQ(label(ids(line).imei)->text(), QString());
        EXPECT_EQ(label(ids(line).version)->text(), QString());
        EXPECT_EQ(badge(line), QStringLiteral("OPEN"));
        EXPECT_EQ(label(ids(line).port)->text(), QStringLiteral("NULL"));
        EXPECT_EQ(button(ids(line).button)->isVisibleTo(m_window.get()), line < 5);
    }
    // No port is bound, so nothing was asked of the engine.
    EXPECT_EQ(m_engine.queries(), 0);
    EXPECT_EQ(m_engine.setupMode(), 6);
}

TEST_F(MainDialogShell, CaptionsComeFromTheLanguageFile)
{
    ASSERT_TRUE(open());
    EXPECT_FALSE(text("IDC_EXE_STARTALL").isEmpty());
    EXPECT_EQ(button(IdStartAll)->text(), text("IDC_EXE_STARTALL"));
    EXPECT_EQ(button(IdVersionButton)->text(), text("IDC_EXE_BTN_FILE"));
    EXPECT_EQ(button(IdClear)->text(), text("IDC_EXE_CLEAN"));
    EXPECT_EQ(label(IdClockCaption)->text(), text("IDC_EXE_TXT_TIMENOW"));
    EXPECT_EQ(button(ids(7).button)->text(), text("IDC_EXE_TXT_BTN_START"));
    EXPECT_EQ(m_window->MenuCommand(CmdPortConfig)->text(), text("IDC_EXE_PORT"));
    EXPECT_EQ(m_window->MenuCommand(CmdAbout)->text(), text("IDC_EXE_ABOUT"));
    const QList<QAction*> menus = m_window->findChild<QMenuBar*>()->actions();
    ASSERT_EQ(menus.size(), 2);
    EXPECT_EQ(menus[0]->text(), text("IDC_EXE_MENU"));
    EXPECT_EQ(menus[0]->menu()->actions().size(), 2);
    // Automation finds controls by identifier.
    EXPECT_EQ(m_window->Control(1080)->accessibleDescription(), QStringLiteral("id1080"));
}

TEST_F(MainDialogShell, MissingLanguageFileLeavesCaptionsEmpty)
{
    QFile::remove(m_station.file(QStringLiteral("lang/LAN_ENG.ini")));
    ASSERT_TRUE(open());
    EXPECT_EQ(button(IdStartAll)->text(), QString());
    EXPECT_EQ(m_window->MenuCommand(CmdExport)->text(), QString());
}

TEST_F(MainDialogShell, SetLineItemFollowsItsKinds)
{
    ASSERT_TRUE(open());
    m_window->SetLineItem(LINE_ITEM_BUTTON, 0, ButtonText(BUTTON_ENABLED));
    EXPECT_TRUE(button(ids(0).button)->isEnabled());
    for (const char* off : {"0", "", "11", "1 "}) {
        m_window->SetLineItem(LINE_ITEM_BUTTON, 0, ButtonText(BUTTON_ENABLED));
        m_window->SetLineItem(LINE_ITEM_BUTTON, 0, QString::fromLatin1(off));
        EXPECT_FALSE(button(ids(0).button)->isEnabled()) << off;
    }
    m_window->SetLineItem(LINE_ITEM_BADGE, 3, BadgeText(BADGE_FAIL));
    EXPECT_EQ(label(1080)->accessibleName(), QStringLiteral("FAIL"));
    EXPECT_FALSE(label(1080)->pixmap().isNull());
    EXPECT_EQ(label(1079)->accessibleName(), QStringLiteral("OPEN"));

    m_window->SetLineItem(LINE_ITEM_PROGRESS, 1, QStringLiteral("55"));
    m_window->SetLineItem(LINE_ITEM_PROGRESS, 1, QStringLiteral("abc"));
    EXPECT_EQ(bar(ids(1).progress)->value(), 0);

    m_window->SetLineItem(9, 2, QStringLiteral("x"));
    EXPECT_EQ(infoText(2), QString());
    EXPECT_EQ(label(ids(2).elapsed)->text(), QStringLiteral("0:00"));
}

TEST_F(MainDialogShell, SetLineProgressShowsBarAndFraction)
{
    ASSERT_TRUE(open());
    m_window->SetLineProgress(37, 2);
    EXPECT_EQ(bar(1018)->value(), 37);
    EXPECT_EQ(label(1032)->text(), QStringLiteral("37/100"));
    m_window->SetLineProgress(120, 2);
    EXPECT_EQ(label(1032)->text(), QStringLiteral("120/100"));
    EXPECT_EQ(bar(1018)->value(), 100);
    m_window->SetLineProgress(0, 2);
    EXPECT_EQ(bar(1018)->value(), 0);
    EXPECT_EQ(label(1032)->text(), QStringLiteral("0/100"));
}

TEST_F(MainDialogShell, OnlySuccessAndFailureTextsAreColoured)
{
    ASSERT_TRUE(open());
    const QColor normal = label(ids(0).info)->palette().color(QPalette::WindowText);
    m_window->SetLineItem(LINE_ITEM_INFO, 0, QStringLiteral("Download succeed"));
    EXPECT_EQ(label(ids(0).info)->palette().color(QPalette::WindowText), QColor(0, 255, 0));
    m_window->SetLineItem(LINE_ITEM_INFO, 0, QStringLiteral("版本不匹配"));
    EXPECT_EQ(label(ids(0).info)->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    m_window->SetLineItem(LINE_ITEM_INFO, 0, QStringLiteral("Download succeeded"));
    EXPECT_EQ(label(ids(0).info)->palette().color(QPalette::WindowText), normal);
}

TEST_F(MainDialogShell, PortLabelsComeFromPorts)
{
    ASSERT_TRUE(openWithPorts("5,0"));
    EXPECT_EQ(label(ids(0).port)->text(), QStringLiteral("USB_5"));
    EXPECT_EQ(label(ids(1).port)->text(), QStringLiteral("NULL"));
    EXPECT_EQ(label(ids(2).port)->text(), QStringLiteral("NULL"));
    EXPECT_EQ(m_window->LineStateOf(0).port.number, 5);
}

TEST_F(MainDialogShell, FreshStationWritesOnlyTheNvPath)
{
    ASSERT_TRUE(open());
    EXPECT_EQ(config(), "[GET_DLL_Setting]\nITEM_NVFILE_PATH=" + (m_station.path() + "NV").toUtf8() + "\n");
    EXPECT_FALSE(m_window->SkipVerification());
    EXPECT_TRUE(m_window->findChild<QLineEdit*>(QStringLiteral("id1011"))->text().isEmpty());
}

TEST_F(MainDialogShell, DlModeSwitchesVerificationOff)
{
    writeConfig("[DLOption]\nDLMode=2\n");
    ASSERT_TRUE(open());
    EXPECT_TRUE(m_window->SkipVerification());
}

TEST_F(MainDialogShell, KeysDoNothing)
{
    ASSERT_TRUE(open());
    m_window->show();
    QTest::keyClick(m_window.get(), Qt::Key_Escape);
    QTest::keyClick(m_window.get(), Qt::Key_Return);
    QTest::keyClick(button(IdStartAll), Qt::Key_Space);
    EXPECT_TRUE(m_window->isVisible());
    EXPECT_EQ(s_exitCalls, 0);
    EXPECT_TRUE(m_prompter.records().isEmpty()); // start-all was not pressed
}

TEST_F(MainDialogShell, CloseEndsTheProcessWhenIdle)
{
    ASSERT_TRUE(open());
    m_window->close();
    EXPECT_EQ(s_exitCalls, 1);
    EXPECT_EQ(s_exitStatus, 0);
}

TEST_F(MainDialogShell, CloseIsRefusedWhileRunFlagIsSet)
{
    ASSERT_TRUE(open());
    StationConfig::WriteRunFlag(true);
    m_prompter.expectMessage();
    m_window->close();
    EXPECT_EQ(m_prompter.messageTexts(), QStringList{QStringLiteral("The tool is running ...")});
    EXPECT_EQ(s_exitCalls, 0);
    StationConfig::WriteRunFlag(false);
    m_window->close();
    EXPECT_EQ(s_exitCalls, 1);
}

TEST_F(MainDialogShell, SecondInstanceWarnsWithRunFlagUp)
{
    SingleInstance first(QStringLiteral("Vintrel_RT40K_USV1.00.00"));
    ASSERT_FALSE(first.alreadyRunning());
    // The running instance may be replacing its log right now.
    m_data.write(QStringLiteral("rqvtcsv123.ds.dll.tmp-inuse"), "partial");
    m_prompter.expectMessage();
    bool flagWhileShown = false;
    m_prompter.onNextMessage([&](const Prompter::Message&) { flagWhileShown = StationConfig::ReadRunFlag(); });
    EXPECT_FALSE(open());
    EXPECT_TRUE(flagWhileShown);
    EXPECT_FALSE(StationConfig::ReadRunFlag());
    EXPECT_EQ(m_prompter.messageTexts(), QStringList{text("IDC_EXE_INFO_EXERUNNING")});
    EXPECT_EQ(s_exitStatus, 0);
    EXPECT_FALSE(m_window->isVisible());
    EXPECT_TRUE(m_data.exists(QStringLiteral("rqvtcsv123.ds.dll.tmp-inuse")));
}

TEST_F(MainDialogShell, FirstInstanceRemovesTemporariesOfAKilledWriter)
{
    m_data.write(QStringLiteral("rqvtcsv123.ds.dll.tmp-killed"), "partial");
    ASSERT_TRUE(open());
    EXPECT_FALSE(m_data.exists(QStringLiteral("rqvtcsv123.ds.dll.tmp-killed")));
}

TEST_F(MainDialogShell, SecondInstanceIsSilentWhileAnotherWarns)
{
    SingleInstance first(QStringLiteral("Vintrel_RT40K_USV1.00.00"));
    ASSERT_FALSE(first.alreadyRunning());
    writeConfig("[DLOption]\nRunFlag=1\n");
    EXPECT_FALSE(open());
    EXPECT_TRUE(m_prompter.records().isEmpty());
    EXPECT_EQ(s_exitStatus, 0);
}

TEST_F(MainDialogShell, MissingEngineEndsSetUpBeforeAnyScan)
{
    writeConfig("[GET_DLL_Setting]\nPORTS=3\n");
    m_engineLoads = false;
    m_prompter.expectMessage();
    EXPECT_FALSE(open());
    EXPECT_EQ(m_prompter.messageTexts(), QStringList{QStringLiteral("Load dll failed!")});
    EXPECT_EQ(m_prompter.records()[0].message.caption, QStringLiteral("Vintrel_Tool"));
    EXPECT_EQ(m_engine.queries(), 0);
}

TEST_F(MainDialogShell, MissingRecordFileIsAskedForBeforeTheWindow)
{
    QFile::remove(m_station.file(QStringLiteral("RecordCSV.sdi")));
    m_prompter.expectMessage();
    m_prompter.expectOpenFile(QString()); // the operator cancels
    ASSERT_TRUE(open());
    ASSERT_EQ(m_prompter.records().size(), 2);
    EXPECT_EQ(m_prompter.records()[0].message.text,
              QStringLiteral("Fail to find 'RecordCSV.sdi',please select setup folder."));
    EXPECT_EQ(m_prompter.records()[1].file.proposedName, QStringLiteral("RecordCSV.sdi"));
    EXPECT_FALSE(m_data.exists(QStringLiteral("rqvtcsv123.ds.dll")));
}

namespace {
QString g_opened;
}

TEST_F(MainDialogShell, HelpOpensTheDocumentWhenPresent)
{
    ASSERT_TRUE(open());
    g_opened.clear();
    Shell::setHook([](const QString& path) { g_opened = path; });
    m_window->MenuCommand(CmdHelp)->trigger();
    EXPECT_TRUE(g_opened.isEmpty());
    m_station.write(QStringLiteral("help.doc"), "{\\rtf1 help}");
    m_window->MenuCommand(CmdHelp)->trigger();
    EXPECT_EQ(g_opened, m_station.file(QStringLiteral("help.doc")));
    Shell::setHook(nullptr);
}

TEST_F(MainDialogShell, AboutShowsTheVersionLabel)
{
    ASSERT_TRUE(open());
    QString shown;
    QTimer::singleShot(0, [&] {
        auto* about = qobject_cast<AboutDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(about, nullptr);
        shown = about->findChild<QLabel*>(QStringLiteral("id1098"))->text();
        about->findChild<QPushButton*>(QStringLiteral("id1"))->click();
    });
    m_window->MenuCommand(CmdAbout)->trigger();
    EXPECT_EQ(shown, QStringLiteral("Vintrel_RT40K_USV1.00.00"));
}

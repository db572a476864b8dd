#pragma once

#include "app/MainDialog.h"
#include "app/MainWindowLayout.h"
#include "settings/LanguageText.h"
#include "support/FakeClock.h"
#include "support/ScriptedEngine.h"
#include "support/ScriptedPrompter.h"
#include "support/TempDir.h"
#include "support/WaitFor.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

// A station in a temporary folder: executable dir with language files and
// the record file, data and runtime dirs of its own, a scripted engine and
// scripted prompts. The window is made by open().
class WindowFixture : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Builds the window and runs its set-up sequence.
    bool open();
    void writeConfig(const QByteArray& content);
    QByteArray config() const;

    QLabel* label(int id) const;
    QPushButton* button(int id) const;
    QProgressBar* bar(int id) const;
    const MainWindowLayout::LineIds& ids(int line) const { return MainWindowLayout::kLineIds[size_t(line)]; }
    QString infoText(int line) const { return label(ids(line).info)->text(); }
    QString badge(int line) const { return label(ids(line).badge)->accessibleName(); }
    QString text(const char* key) const { return LanguageText::Instance().Lookup(key); }

    // A ready device on a port: "display,internal,IMEI".
    void plug(int port, const QByteArray& info = "ABC_DE_V1.0,ABC_DE_INT_V1.0,356938035643809");
    // Binds lines 1.. to these ports and opens the window.
    bool openWithPorts(const QByteArray& ports);
    // A version directory whose system.img holds the two property lines.
    QString makePackage(const QByteArray& display = "ABC_DE_V2.3",
                        const QByteArray& internal = "ABC_DE_INT_V2.3");
    void waitLineIdle(int line);

    TempDir m_station;
    TempDir m_data;
    TempDir m_runtime;
    ScriptedPrompter m_prompter;
    FakeClock m_clock;
    ScriptedEngine m_engine;
    std::unique_ptr<LanguageText> m_text;
    std::unique_ptr<MainDialog> m_window;
    bool m_engineLoads = true;
    std::chrono::milliseconds m_versionWait{5000};

    static int s_exitStatus;
    static int s_exitCalls;
};

#pragma once

#include "core/StationLines.h"
#include "app/KeyFilter.h"
#include "app/LineRowWidgets.h"
#include "app/RecordDbPanel.h"
#include "app/RecordPrompter.h"
#include "app/StationResults.h"
#include "lines/EngineBinding.h"
#include "lines/LineController.h"
#include "lines/LineRows.h"
#include "lines/LineState.h"
#include "lines/StationLog.h"
#include "platform/Clock.h"
#include "platform/Prompter.h"
#include "platform/SingleInstance.h"
#include "platform/WindowThread.h"

#include <QDialog>
#include <QIcon>

#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>

class PassCounters;
class QAction;
class QLabel;
class QLineEdit;
class QMenuBar;
class QTimer;
class RecordStore;
class VersionFileReader;

// The station's only window: eight line rows, the version directory, the
// counters and the clock. The lines themselves (state, workers, engine
// messages, results) are the LineController's; the window draws their rows,
// routes commands and owns the set-up sequence.
//
// MainDialog.cpp holds set-up, close, keys and rows; MainDialogCommands.cpp
// the buttons and menu commands.
class MainDialog final : public QDialog, public LineRows
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MainDialog)

public:
    static constexpr int kClockTimer = 500;

    struct Services
    {
        Prompter* prompter = nullptr;
        const Clock* clock = nullptr;
        // Loads the engine into the binding; the default loads the library.
        std::function<bool(EngineBinding&, LineEventHandler*, QObject*)> loadEngine;
        std::chrono::milliseconds versionWait{std::chrono::seconds(60)};
    };

    explicit MainDialog(Services services);
    ~MainDialog() override;

    // The set-up sequence. False when the window must not run (the engine
    // could not be loaded, or a second instance ended).
    bool OnInitDialog();

    // The row operations; callable from any thread.
    void SetLineItem(int kind, int line, const QString& text) override;
    void SetLineProgress(int percent, int line) override;
    void ShowCounters() override;
    QString ClockText() const override;
    bool AnyLineBusy() const { return m_lines.AnyLineBusy(); }
    void InitControls();

    void StartLine(int line) { m_lines.StartLine(line); }
    void StartAllLines() { m_lines.StartAllLines(); }
    void RefreshPorts(int offer) { m_lines.RefreshPorts(offer); }
    void OnTimer(int id);

    // Commands.
    void OnVersionDirectory();
    void OnPortConfig();
    void OnExportRecords();
    void OnClearCounters();
    void OnHelp();
    void OnAbout();
    void OnDbStatus();
    void RequestClose();

    // For tests and automation.
    QWidget* Control(int id) const;
    QAction* MenuCommand(int id) const;
    LineController& Lines() { return m_lines; }
    const LineState& LineStateOf(int line) const { return m_lines.LineStateOf(line); }
    VersionFileReader& VersionReader() const { return *m_versionReader; }
    bool SkipVerification() const { return m_skipVerification; }
    StationLog& DailyLog() { return m_log; }
    int LiveWorkers() const { return m_lines.LiveWorkers(); }
    bool LineTimerActive(int line) const { return m_lines.LineTimerActive(line); }

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override {}

private:
    void buildWindow();
    void buildMenu();
    QLabel* label(int id) const;
    void runSecondInstancePath();
    void loadCounters();
    void applyLocalisedTexts();
    void startVersionReader();
    void startRecordDb();
    void showVersionFileError();
    bool refusedWhileBusy() { return m_lines.RefusedWhileBusy(); }
    static QString localText(const char* key);

    // Target of every call that another thread hands to the window thread.
    // It is not a widget, so the key filter never looks at those calls,
    // whose events Qt's queue carries between threads.
    QObject m_callContext;
    // This window's own hand-overs (row calls, the version file's box).
    WindowThread m_window;
    Services m_services;
    Prompter& m_prompter;
    RecordPrompter m_recordPrompter;
    const Clock& m_clock;
    QIcon m_icon;
    KeyFilter m_keyFilter;
    QString m_executableDir;
    QString m_countersFilePath;
    std::unique_ptr<SingleInstance> m_instance;
    LineRowWidgets m_rows;
    QTimer* m_clockTimer = nullptr;
    QLineEdit* m_versionField = nullptr;
    QMenuBar* m_menuBar = nullptr;
    bool m_skipVerification = false;
    std::unique_ptr<VersionFileReader> m_versionReader;
    std::unique_ptr<PassCounters> m_counters;
    std::unique_ptr<RecordStore> m_records;
    // Declared before the lines, which use it until they are shut down.
    QByteArray m_recordDbUrl;
    RecordDbPanel m_recordDb;
    StationLog m_log;
    StationResults m_results;
    LineController m_lines;
};

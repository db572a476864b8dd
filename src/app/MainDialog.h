#pragma once

#include "lines/EngineBinding.h"
#include "lines/LineEventHandler.h"
#include "lines/LineState.h"
#include "lines/LineWorker.h"
#include "platform/Clock.h"
#include "platform/Prompter.h"
#include "platform/SingleInstance.h"

#include <QDialog>
#include <QIcon>
#include <QPointer>

#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>

class LineVerifier;
class PassCounters;
class QAction;
class QLabel;
class QLineEdit;
class QMenuBar;
class QProgressBar;
class QPushButton;
class QTimer;
class RecordStore;
class VersionFileReader;

// The station's only window: eight line rows, the version directory, the
// counters and the clock. It owns all window-level state and every per-line
// array, indexed by the line index 0..7.
//
// The implementation is split by concern: MainDialog.cpp (set-up, close,
// keys, rows), MainDialogLines.cpp (starting lines, port scan, engine
// messages, results) and MainDialogCommands.cpp (buttons and menu commands).
class MainDialog final : public QDialog, public LineEventHandler
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MainDialog)

public:
    static constexpr int kLines = 8;
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

    void SetLineItem(int kind, int line, const QString& text);
    void SetLineProgress(int percent, int line);
    bool AnyLineBusy() const;
    void InitControls();

    void StartLine(int line);
    void StartAllLines();
    void RefreshPorts(int offer);
    void OnTimer(int id);

    // Engine messages, on the window thread.
    void OnLineDevice(const int32_t* offer, int line) override;
    void OnLineProgress(int32_t percent, int line) override;
    void OnLineResult(const int32_t* code, int line) override;
    void OnLineMessage(const char* text, int line) override;

    // Commands.
    void OnVersionDirectory();
    void OnPortConfig();
    void OnExportRecords();
    void OnClearCounters();
    void OnHelp();
    void OnAbout();
    void RequestClose();

    // For tests and automation.
    QWidget* control(int id) const;
    QAction* menuCommand(int id) const;
    const LineState& lineState(int line) const { return m_lines[size_t(line)]; }
    VersionFileReader& versionReader() const { return *m_versionReader; }
    bool skipVerification() const { return m_skipVerification; }
    int liveWorkers() const { return m_liveWorkers.load(); }
    bool lineTimerActive(int line) const;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void reject() override {}

private:
    struct LineRow
    {
        QPushButton* button = nullptr;
        QLabel* port = nullptr;
        QLabel* elapsed = nullptr;
        QLabel* info = nullptr;
        QProgressBar* progress = nullptr;
        QLabel* percent = nullptr;
        QLabel* imei = nullptr;
        QLabel* version = nullptr;
        QLabel* badge = nullptr;
    };

    void buildWindow();
    void buildMenu();
    void setupLineRow(int line, const std::vector<QWidget*>& widgets);
    QLabel* label(int id) const;
    void colourInfo(QLabel* info);
    void RunSecondInstancePath();
    void ResetLines();
    void LoadCounters();
    void ShowCounters();
    void ApplyLocalisedTexts();
    void BindPorts();
    void StartVersionReader();
    void ShowVersionFileError();
    void UpdateLineClock(int line);
    void StopLine(int line);
    void RunLine(const LineJob& job);
    void LogLineResult(int line, bool passed);
    void ApplyPortSelection(const std::array<QString, kLines>& selection);
    QString clockText() const;
    // Shows the running message and returns true while any line runs.
    bool RefusedWhileBusy();
    static QString Text(const char* key);

    // Target of every call that another thread hands to the window thread.
    // It is not a widget, so the key filter never looks at those calls,
    // whose events Qt's queue carries between threads.
    QObject m_callContext;
    Services m_services;
    Prompter& m_prompter;
    const Clock& m_clock;
    QIcon m_icon;
    QString m_executableDir;
    QString m_countersFilePath;
    std::unique_ptr<SingleInstance> m_instance;
    std::array<LineState, kLines> m_lines;
    std::array<LineRow, kLines> m_rows;
    std::array<QTimer*, kLines> m_lineTimers{};
    QTimer* m_clockTimer = nullptr;
    QLineEdit* m_versionField = nullptr;
    QMenuBar* m_menuBar = nullptr;
    bool m_skipVerification = false;
    EngineBinding m_engine;
    std::unique_ptr<VersionFileReader> m_versionReader;
    std::unique_ptr<LineVerifier> m_verifier;
    std::unique_ptr<PassCounters> m_counters;
    std::unique_ptr<RecordStore> m_records;
    std::atomic<int> m_liveWorkers{0};
    std::atomic<bool> m_closing{false};
};

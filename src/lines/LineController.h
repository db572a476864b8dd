#pragma once

#include "core/StationLines.h"
#include "lines/EngineBinding.h"
#include "lines/LineEventHandler.h"
#include "lines/LineState.h"
#include "lines/LineWorker.h"
#include "platform/WindowThread.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QTimer>

#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>

class Clock;
class QEventLoop;
class LineResultSink;
class LineRows;
class LineVerifier;
class Prompter;
class StationLog;
class VersionFileReader;

// The eight lines without their widgets: their state, starting them, the
// worker threads, the port scan, the engine's messages and the results with
// their counting and recording. Rows change only through LineRows.
//
// Lives on the window thread; workers reach it only through the window
// context's queue (WindowThread::call), so every LineRows call comes on the
// window thread.
class LineController final : public LineEventHandler
{
public:

    // context: the window thread's target for calls from other threads; it
    // must outlive the controller.
    LineController(LineRows& rows, Prompter& prompter, const Clock& clock, QObject* context);
    ~LineController() override; // Shutdown()
    LineController(const LineController&) = delete;
    LineController& operator=(const LineController&) = delete;

    // The pieces that come up later in the window's set-up sequence.
    // Where finished downloads are reported (counters, records).
    void SetResultSink(LineResultSink* results) { m_results = results; }
    // The reader and the verification rule that the workers use.
    void SetVersionReader(VersionFileReader* reader, bool skipVerification, std::chrono::milliseconds versionWait);
    // "DupImeiCheck": the verification refuses a device whose IMEI is that
    // of a device on another line offered before it. Set before any start.
    void SetDuplicateImeiCheck(bool on) { m_dupImeiCheck = on; }
    // "AutoStart", "AutoStartDelayMs": a ready device that the scan offers
    // starts its line by itself once it has stayed ready for the delay.
    void SetAutoStart(bool on, std::chrono::milliseconds delay);
    // Asked before a line starts by itself; false holds the start back (the
    // window: while a dialog is open) and it is tried again shortly.
    void SetAutoStartGate(std::function<bool()> open) { m_autoStartGate = std::move(open); }
    // The daily log that every line's messages, starts and results go to.
    void SetLog(StationLog* log) { m_log = log; }

    EngineBinding& Binding() { return m_engine; }
    FlashEngine* Engine() const { return m_engine.Engine(); }

    // Every line idle, unbound and shown empty.
    void ResetLines();
    // Binds lines 0.. to ports and shows their names; at most eight are used.
    void BindPorts(const QList<LinePort>& ports);
    void SetLinePort(int line, const LinePort& port);

    void StartLine(int line);
    void StartAllLines();
    bool AnyLineBusy() const;
    // Shows the running message and returns true while any line runs.
    bool RefusedWhileBusy();
    void RefreshPorts(int offer);
    // A tick of a line timer.
    void OnLineTimer(int line);
    // The timer of a line's automatic start: starts it when its device has
    // been ready for the delay by the clock, else waits on.
    void OnAutoStartTimer(int line);
    bool AutoStartPending(int line) const { return m_readySince[size_t(line)].isValid(); }

    // Engine messages, on the window thread.
    void OnLineDevice(const int32_t* offer, int line) override;
    void OnLineProgress(int32_t percent, int line) override;
    void OnLineResult(const int32_t* code, int line) override;
    void OnLineMessage(const char* text, int line) override;

    const LineState& LineStateOf(int line) const { return m_lines[size_t(line)]; }
    bool LineTimerActive(int line) const { return m_timers[size_t(line)]->isActive(); }
    int LiveWorkers() const { return m_liveWorkers.load(); }

    // Waits for the live workers, then releases the engine. The version
    // reader must still exist: a worker may be waiting on it.
    void Shutdown();

    // "%d:%d" from ten seconds on, "%d:0%d" below; minutes are not limited.
    static QString FormatElapsed(int seconds);

private:
    void Start(int line, bool automatic);
    void ArmAutoStart(int line);
    void CancelAutoStart(int line);
    void RunLine(const LineJob& job);
    // The end of a worker, on its thread: counted, and Shutdown woken.
    void WorkerEnded();
    // "n. PORT" of a line before this one whose present device has imei;
    // empty when there is none. Any thread.
    QString EarlierLineWithImei(int line, const QByteArray& imei) const;
    // One entry of the daily log for the line, with its port and IMEI.
    void Log(int line, const QString& text);
    void LogEngineMessage(int line, const QString& message);
    void LogStatus(int line, int status);
    void StopLine(int line);
    void UpdateLineClock(int line);
    void ShowNoPort(int line);
    void ScanLine(int line, int offer);
    void ReportResult(int line, bool passed, int engineCode);
    // SetLineItem from any thread: a worker's call runs on the window thread.
    void SetItemFromWorker(int kind, int line, const QString& text);
    static QString Text(const char* key);

    LineRows& m_rows;
    Prompter& m_prompter;
    const Clock& m_clock;
    WindowThread m_window;
    std::array<LineState, kLines> m_lines;
    std::array<std::unique_ptr<QTimer>, kLines> m_timers;
    std::array<std::unique_ptr<QTimer>, kLines> m_autoTimers;
    std::array<QDateTime, kLines> m_readySince; // invalid: no automatic start waiting
    std::array<int, kLines> m_lastStatus;       // of the last scan, for the log
    // The engine's last logged message per line: its text before ": " and
    // when, so that a stream of speed messages logs one line in ten seconds.
    std::array<QString, kLines> m_loggedHead;
    std::array<QDateTime, kLines> m_loggedAt;
    bool m_autoStart = false;
    std::chrono::milliseconds m_autoStartDelay{1500};
    std::function<bool()> m_autoStartGate;
    bool m_dupImeiCheck = true;
    // Guards every line's device and offer order against other lines' workers.
    mutable std::mutex m_deviceLock;
    quint64 m_offers = 0;
    StationLog* m_log = nullptr;
    EngineBinding m_engine;
    VersionFileReader* m_reader = nullptr;
    std::unique_ptr<LineVerifier> m_verifier;
    LineResultSink* m_results = nullptr;
    // Changed under m_workersLock by workers as they end (read anywhere).
    std::atomic<int> m_liveWorkers{0};
    std::mutex m_workersLock;
    QEventLoop* m_shutdownLoop = nullptr; // window thread only
};

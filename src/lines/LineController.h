#pragma once

#include "lines/EngineBinding.h"
#include "lines/LineEventHandler.h"
#include "lines/LineState.h"
#include "lines/LineWorker.h"

#include <QList>
#include <QObject>
#include <QTimer>

#include <array>
#include <atomic>
#include <chrono>
#include <memory>

class Clock;
class LineRows;
class LineVerifier;
class PassCounters;
class Prompter;
class RecordStore;
class VersionFileReader;

// The eight lines without their widgets: their state, starting them, the
// worker threads, the port scan, the engine's messages and the results with
// their counting and recording. Rows change only through LineRows.
//
// Lives on the window thread; workers reach it only through the window
// context's queue (RunOnWindowThread), so every LineRows call comes on the
// window thread.
class LineController final : public LineEventHandler
{
public:
    static constexpr int kLines = 8;

    // context: the window thread's target for calls from other threads; it
    // must outlive the controller.
    LineController(LineRows& rows, Prompter& prompter, const Clock& clock, QObject* context);
    ~LineController() override; // Shutdown()
    LineController(const LineController&) = delete;
    LineController& operator=(const LineController&) = delete;

    // The pieces that come up later in the window's set-up sequence.
    void SetCounters(PassCounters* counters) { m_counters = counters; }
    void SetRecords(RecordStore* records) { m_records = records; }
    // The reader and the verification rule that the workers use.
    void SetVersionReader(VersionFileReader* reader, bool skipVerification, std::chrono::milliseconds versionWait);

    EngineBinding& binding() { return m_engine; }
    FlashEngine* engine() const { return m_engine.engine(); }

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

    // Engine messages, on the window thread.
    void OnLineDevice(const int32_t* offer, int line) override;
    void OnLineProgress(int32_t percent, int line) override;
    void OnLineResult(const int32_t* code, int line) override;
    void OnLineMessage(const char* text, int line) override;

    const LineState& lineState(int line) const { return m_lines[size_t(line)]; }
    bool lineTimerActive(int line) const { return m_timers[size_t(line)]->isActive(); }
    int liveWorkers() const { return m_liveWorkers.load(); }

    // Waits for the live workers, then releases the engine. The version
    // reader must still exist: a worker may be waiting on it.
    void Shutdown();

    // "%d:%d" from ten seconds on, "%d:0%d" below; minutes are not limited.
    static QString FormatElapsed(int seconds);

private:
    void RunLine(const LineJob& job);
    void StopLine(int line);
    void UpdateLineClock(int line);
    void ShowNoPort(int line);
    void ScanLine(int line, int offer);
    void LogLineResult(int line, bool passed);
    // SetLineItem from any thread: a worker's call runs on the window thread.
    void SetItemFromWorker(int kind, int line, const QString& text);
    static QString Text(const char* key);

    LineRows& m_rows;
    Prompter& m_prompter;
    const Clock& m_clock;
    QObject* m_context;
    std::array<LineState, kLines> m_lines;
    std::array<std::unique_ptr<QTimer>, kLines> m_timers;
    EngineBinding m_engine;
    VersionFileReader* m_reader = nullptr;
    std::unique_ptr<LineVerifier> m_verifier;
    PassCounters* m_counters = nullptr;
    RecordStore* m_records = nullptr;
    std::atomic<int> m_liveWorkers{0};
};

#include "lines/LineController.h"

#include "FlashEngine.h"
#include "lines/LineResultSink.h"
#include "lines/LineRows.h"
#include "lines/LineVerifier.h"
#include "lines/StationLog.h"
#include "lines/VersionStem.h"
#include "platform/Clock.h"
#include "platform/Prompter.h"
#include "platform/StationPaths.h"
#include "platform/TextCodec.h"
#include "settings/LanguageText.h"
#include "settings/VersionFileReader.h"

#include <QEventLoop>

#include <climits>

namespace {

// How soon a held automatic start is tried again.
constexpr int kAutoStartRetryMs = 250;
constexpr int kNoStatus = INT_MIN;

} // namespace

LineController::LineController(LineRows& rows, Prompter& prompter, const Clock& clock, QObject* context)
    : m_rows(rows)
    , m_prompter(prompter)
    , m_clock(clock)
    , m_window(context)
{
    for (int line = 0; line < kLines; ++line) {
        auto timer = std::make_unique<QTimer>();
        timer->setInterval(1000);
        QObject::connect(timer.get(), &QTimer::timeout, context, [this, line] { OnLineTimer(line); });
        m_timers[size_t(line)] = std::move(timer);
        auto autoTimer = std::make_unique<QTimer>();
        autoTimer->setSingleShot(true);
        QObject::connect(autoTimer.get(), &QTimer::timeout, context, [this, line] { OnAutoStartTimer(line); });
        m_autoTimers[size_t(line)] = std::move(autoTimer);
    }
    m_lastStatus.fill(kNoStatus);
}

LineController::~LineController()
{
    Shutdown();
}

void LineController::Shutdown()
{
    // Workers may wait on the window thread: it runs their calls while it
    // waits, woken by each worker's end.
    QEventLoop loop;
    m_shutdownLoop = &loop;
    for (;;) {
        {
            // Taken after the last worker's wake-up has been posted.
            const std::lock_guard lock(m_workersLock);
            if (m_liveWorkers.load() == 0)
                break;
        }
        loop.exec();
    }
    m_shutdownLoop = nullptr;
    m_engine.Release();
}

void LineController::WorkerEnded()
{
    const std::lock_guard lock(m_workersLock);
    --m_liveWorkers;
    m_window.post([this] {
        if (m_shutdownLoop)
            m_shutdownLoop->quit();
    });
}

void LineController::SetVersionReader(VersionFileReader* reader, bool skipVerification,
                                      std::chrono::milliseconds versionWait)
{
    m_reader = reader;
    m_verifier = std::make_unique<LineVerifier>(*reader, skipVerification, &LineController::Text, versionWait);
}

void LineController::SetAutoStart(bool on, std::chrono::milliseconds delay)
{
    m_autoStart = on;
    m_autoStartDelay = delay;
    if (!on)
        for (int line = 0; line < kLines; ++line)
            CancelAutoStart(line);
}

QString LineController::Text(const char* key)
{
    return LanguageText::Instance().Lookup(key);
}

QString LineController::FormatElapsed(int seconds)
{
    return QString::asprintf(seconds % 60 >= 10 ? "%d:%d" : "%d:0%d", seconds / 60, seconds % 60);
}

void LineController::ResetLines()
{
    for (int line = 0; line < kLines; ++line) {
        LineState& state = m_lines[size_t(line)];
        state.running = 0;
        state.enabled = 0;
        state.devicePresent = 0;
        state.elapsedSeconds = 0;
        state.port.number = 0;
        CancelAutoStart(line);
        m_lastStatus[size_t(line)] = kNoStatus;
        m_rows.SetLineProgress(0, line);
        m_rows.SetLineItem(LINE_ITEM_BUTTON, line, ButtonText(BUTTON_DISABLED));
        m_rows.SetLineItem(LINE_ITEM_INFO, line, QString());
        m_rows.SetLineItem(LINE_ITEM_VERSION, line, QString());
        m_rows.SetLineItem(LINE_ITEM_IMEI, line, QString());
        m_rows.SetLineItem(LINE_ITEM_BADGE, line, BadgeText(BADGE_OPEN));
    }
}

void LineController::BindPorts(const QList<LinePort>& ports)
{
    for (int line = 0; line < ports.size() && line < kLines; ++line)
        SetLinePort(line, ports[line]);
}

void LineController::SetLinePort(int line, const LinePort& port)
{
    m_lines[size_t(line)].port = port;
    m_rows.SetLineItem(LINE_ITEM_PORT, line, port.name);
}

bool LineController::AnyLineBusy() const
{
    for (const LineState& state : m_lines)
        if (state.running)
            return true;
    return false;
}

bool LineController::RefusedWhileBusy()
{
    if (!AnyLineBusy())
        return false;
    m_prompter.warn(Text("IDC_EXE_INFO_RUNNING"));
    return true;
}

void LineController::StartLine(int line)
{
    Start(line, false);
}

void LineController::Start(int line, bool automatic)
{
    LineState& state = m_lines[size_t(line)];
    // A running line keeps its offer until it ends.
    if (!state.enabled || state.running)
        return;
    CancelAutoStart(line);
    if (!m_reader || m_reader->directory().isEmpty()) {
        m_prompter.warn(Text("IDC_EXE_INFO_VERSIONPATHNULL"));
        return;
    }
    m_rows.SetLineItem(LINE_ITEM_BUTTON, line, ButtonText(BUTTON_DISABLED));
    m_rows.SetLineItem(LINE_ITEM_BADGE, line, BadgeText(BADGE_RUNNING));
    state.running = 1;
    state.elapsedSeconds = 0;
    state.lastMessage.clear();
    m_timers[size_t(line)]->start();

    const QByteArray package = m_reader->displayVersion();
    Log(line, QStringLiteral("start%1, package %2")
                  .arg(automatic ? QStringLiteral(" (automatic)") : QString(),
                       package.isEmpty() ? QStringLiteral("not read yet") : TextCodec::decode(package)));

    ++m_liveWorkers;
    const LineJob job{state.port.number, line};
    if (LineWorker::Start(job, [this](const LineJob& j) {
            RunLine(j);
            WorkerEnded();
        }))
        return;
    Log(line, QStringLiteral("not started: no thread"));
    // Left running, the line could never end and the tool never close again:
    // give the line back as it was before the start.
    --m_liveWorkers;
    m_timers[size_t(line)]->stop();
    state.running = 0;
    m_rows.SetLineItem(LINE_ITEM_BADGE, line, BadgeText(BADGE_READY));
    m_rows.SetLineItem(LINE_ITEM_BUTTON, line, ButtonText(BUTTON_ENABLED));
    Prompter::Message box;
    box.caption = StationPaths::applicationName();
    box.text = QStringLiteral("Thread begin error!");
    box.icon = Prompter::Icon::None;
    m_prompter.message(box);
}

void LineController::StartAllLines()
{
    if (RefusedWhileBusy())
        return;
    if (!m_reader || m_reader->directory().isEmpty()) {
        m_prompter.warn(Text("IDC_EXE_INFO_VERSIONPATHNULL"));
        return;
    }
    for (int line = 0; line < kLines; ++line)
        StartLine(line);
}

void LineController::SetItemFromWorker(int kind, int line, const QString& text)
{
    m_window.call([this, kind, line, text] { m_rows.SetLineItem(kind, line, text); });
}

// The body of a line's worker thread.
void LineController::RunLine(const LineJob& job)
{
    const int line = job.line;
    DeviceInfo device;
    {
        const std::lock_guard lock(m_deviceLock);
        device = m_lines[size_t(line)].device;
    }
    QString reason;
    QString holder;
    LineVerifier::DuplicateFinder isDuplicate;
    if (m_dupImeiCheck)
        isDuplicate = [this, line, &holder](const QByteArray& imei) {
            holder = EarlierLineWithImei(line, imei);
            return !holder.isEmpty();
        };
    const bool passed = m_verifier->VerifyLine(
        device,
        [this, line, &reason](const QString& text) {
            reason = text;
            SetItemFromWorker(LINE_ITEM_INFO, line, text);
        },
        isDuplicate);
    if (!passed) {
        if (!holder.isEmpty()) {
            // The tooltip names the line that has the unit with this IMEI.
            reason += QStringLiteral(": ") + holder;
            SetItemFromWorker(LINE_ITEM_INFO_TIP, line, reason);
        }
        SetItemFromWorker(LINE_ITEM_BADGE, line, BadgeText(BADGE_FAIL));
        m_window.call([this, line, reason] {
            Log(line, QStringLiteral("refused: ") + reason);
            StopLine(line);
        });
        return;
    }
    // The Port Config dialog cannot change the port while the line runs.
    m_engine.Engine()->Download(line, m_lines[size_t(line)].port.number);
}

QString LineController::EarlierLineWithImei(int line, const QByteArray& imei) const
{
    const std::lock_guard lock(m_deviceLock);
    const quint64 mine = m_lines[size_t(line)].offerOrder;
    for (int other = 0; other < kLines; ++other) {
        const LineState& state = m_lines[size_t(other)];
        if (other != line && state.devicePresent && state.offerOrder < mine && state.device.imei == imei)
            return QStringLiteral("%1. %2").arg(QString::number(other + 1), state.port.name);
    }
    return {};
}

void LineController::StopLine(int line)
{
    m_timers[size_t(line)]->stop();
    m_lines[size_t(line)].running = 0;
    m_lines[size_t(line)].enabled = 0;
}

void LineController::ShowNoPort(int line)
{
    CancelAutoStart(line);
    m_rows.SetLineItem(LINE_ITEM_INFO, line, QString());
    m_rows.SetLineItem(LINE_ITEM_BUTTON, line, ButtonText(BUTTON_DISABLED));
    m_rows.SetLineItem(LINE_ITEM_VERSION, line, QString());
    m_rows.SetLineItem(LINE_ITEM_IMEI, line, QString());
    m_rows.SetLineItem(LINE_ITEM_BADGE, line, BadgeText(BADGE_OPEN));
    m_rows.SetLineItem(LINE_ITEM_ELAPSED, line, QStringLiteral("0:00"));
    m_rows.SetLineProgress(0, line);
}

void LineController::RefreshPorts(int offer)
{
    for (int line = 0; line < kLines; ++line) {
        if (m_lines[size_t(line)].port.number == 0)
            ShowNoPort(line);
        else if (!m_lines[size_t(line)].running)
            ScanLine(line, offer);
    }
}

void LineController::ScanLine(int line, int offer)
{
    LineState& state = m_lines[size_t(line)];
    EngineText info{};
    const int status = m_engine.Engine()->QueryDevice(line, state.port.number, &info);
    info.text[sizeof(info.text) - 1] = '\0';
    // Logged with the IMEI the line had: a unit that left is named.
    LogStatus(line, status);
    {
        const std::lock_guard lock(m_deviceLock);
        state.device = ParseDeviceInfo(QByteArray(info.text));
    }
    if (status == 0) {
        if (offer && !state.devicePresent) {
            {
                const std::lock_guard lock(m_deviceLock);
                state.offerOrder = ++m_offers;
            }
            m_rows.SetLineItem(LINE_ITEM_IMEI, line, TextCodec::decode(state.device.imei));
            m_rows.SetLineItem(LINE_ITEM_VERSION, line, TextCodec::decode(state.device.displayVersion));
            m_rows.SetLineItem(LINE_ITEM_BUTTON, line, ButtonText(BUTTON_ENABLED));
            m_rows.SetLineItem(LINE_ITEM_INFO, line, Text("IDC_EXE_INFO_CLICKSTARTBTN"));
            m_rows.SetLineItem(LINE_ITEM_INFO_TIP, line, QString());
            m_rows.SetLineItem(LINE_ITEM_BADGE, line, BadgeText(BADGE_READY));
            state.enabled = 1;
            state.devicePresent = 1;
            Log(line, QStringLiteral("ready: %1, %2")
                          .arg(TextCodec::decode(state.device.displayVersion),
                               TextCodec::decode(state.device.internalVersion)));
            ArmAutoStart(line);
        } else if (!offer && !state.devicePresent) {
            state.enabled = 0;
        }
        return;
    }
    // A unit still being pushed in, or already gone again, is not started.
    CancelAutoStart(line);
    m_rows.SetLineItem(LINE_ITEM_IMEI, line, QString());
    m_rows.SetLineItem(LINE_ITEM_VERSION, line, QString());
    m_rows.SetLineItem(LINE_ITEM_BUTTON, line, ButtonText(BUTTON_DISABLED));
    if (status == -1) {
        m_rows.SetLineItem(LINE_ITEM_INFO, line, Text("IDC_EXE_INFO_NODEVICE"));
        m_rows.SetLineItem(LINE_ITEM_BADGE, line, BadgeText(BADGE_OPEN));
        m_rows.SetLineItem(LINE_ITEM_ELAPSED, line, QStringLiteral("0:00"));
        m_rows.SetLineProgress(0, line);
        state.devicePresent = 0;
    } else {
        // ARM mode: the clock and the bar keep what they showed.
        m_rows.SetLineItem(LINE_ITEM_INFO, line, Text("IDC_EXE_INFO_PHONEINARMMODE"));
        m_rows.SetLineItem(LINE_ITEM_BADGE, line, BadgeText(BADGE_OPEN));
    }
    state.enabled = 0;
}

void LineController::ArmAutoStart(int line)
{
    if (!m_autoStart)
        return;
    m_readySince[size_t(line)] = m_clock.now();
    m_autoTimers[size_t(line)]->start(int(m_autoStartDelay.count()));
}

void LineController::CancelAutoStart(int line)
{
    m_readySince[size_t(line)] = QDateTime();
    m_autoTimers[size_t(line)]->stop();
}

void LineController::OnAutoStartTimer(int line)
{
    if (line < 0 || line >= kLines || !m_readySince[size_t(line)].isValid())
        return;
    QTimer& timer = *m_autoTimers[size_t(line)];
    const QDateTime now = m_clock.now();
    qint64 ready = m_readySince[size_t(line)].msecsTo(now);
    if (ready < 0) {
        // The clock was set back: count the delay anew.
        m_readySince[size_t(line)] = now;
        ready = 0;
    }
    const qint64 delay = m_autoStartDelay.count();
    if (ready < delay) {
        timer.start(int(delay - ready));
        return;
    }
    if (m_autoStartGate && !m_autoStartGate()) {
        timer.start(kAutoStartRetryMs);
        return;
    }
    const LineState& state = m_lines[size_t(line)];
    if (state.port.number == 0 || state.running || !state.enabled) {
        CancelAutoStart(line);
        return;
    }
    // The scan may not have seen a unit that was pulled a moment ago: ask
    // the port once more; a report other than ready cancels the start.
    ScanLine(line, 1);
    if (m_readySince[size_t(line)].isValid())
        Start(line, true);
}

void LineController::OnLineTimer(int line)
{
    if (line < 0 || line >= kLines)
        return;
    ++m_lines[size_t(line)].elapsedSeconds;
    UpdateLineClock(line);
}

void LineController::UpdateLineClock(int line)
{
    m_rows.SetLineItem(LINE_ITEM_ELAPSED, line, FormatElapsed(m_lines[size_t(line)].elapsedSeconds));
}

void LineController::OnLineDevice(const int32_t* offer, int /*line*/)
{
    RefreshPorts(*offer);
}

void LineController::OnLineProgress(int32_t percent, int line)
{
    if (line >= 0 && line < kLines)
        m_rows.SetLineProgress(percent, line);
}

void LineController::OnLineMessage(const char* text, int line)
{
    if (line < 0 || line >= kLines)
        return;
    const QString message = TextCodec::decode(QByteArray(text));
    m_lines[size_t(line)].lastMessage = message;
    LogEngineMessage(line, message);
    m_rows.SetLineItem(LINE_ITEM_INFO, line, message);
    // On an idle line the engine explains a device it cannot offer (no
    // permission, held by another program); the port scan then shows its own
    // state text, so the reason stays in sight as the tooltip until the line
    // is offered.
    if (!m_lines[size_t(line)].running)
        m_rows.SetLineItem(LINE_ITEM_INFO_TIP, line, message);
}

void LineController::LogEngineMessage(int line, const QString& message)
{
    // "Writing system.img: 38.2 MB/s, 1:12 left" comes twice a second; the
    // log keeps the first of a kind and then one every ten seconds.
    const QString head = message.section(QStringLiteral(": "), 0, 0);
    const QDateTime now = m_clock.now();
    QDateTime& at = m_loggedAt[size_t(line)];
    if (head == m_loggedHead[size_t(line)] && at.isValid() && at.msecsTo(now) < 10000)
        return;
    m_loggedHead[size_t(line)] = head;
    at = now;
    Log(line, QStringLiteral("engine: ") + message);
}

void LineController::OnLineResult(const int32_t* code, int line)
{
    if (line < 0 || line >= kLines || !m_lines[size_t(line)].running)
        return;
    StopLine(line);
    const bool passed = *code == 0;
    m_rows.SetLineItem(LINE_ITEM_INFO_TIP, line, m_lines[size_t(line)].lastMessage);
    if (passed) {
        m_rows.SetLineItem(LINE_ITEM_INFO, line, Text("IDC_EXE_INFO_DOWNLOADSUCC"));
        m_rows.SetLineItem(LINE_ITEM_BADGE, line, BadgeText(BADGE_PASS));
        m_rows.SetLineItem(LINE_ITEM_VERSION, line, TextCodec::decode(m_reader->displayVersion()));
    } else {
        m_rows.SetLineItem(LINE_ITEM_INFO, line, Text("IDC_EXE_INFO_DOWNLOADFAIL"));
        m_rows.SetLineItem(LINE_ITEM_BADGE, line, BadgeText(BADGE_FAIL));
    }
    Log(line, QStringLiteral("result: %1, engine code %2, %3")
                  .arg(passed ? QStringLiteral("PASS") : QStringLiteral("FAIL"), QString::number(*code),
                       FormatElapsed(m_lines[size_t(line)].elapsedSeconds)));
    ReportResult(line, passed, *code);
}

void LineController::ReportResult(int line, bool passed, int engineCode)
{
    if (!m_results)
        return;
    const LineState& state = m_lines[size_t(line)];
    LineResult result;
    result.line = line;
    result.passed = passed;
    result.engineCode = engineCode;
    result.port = state.port.number;
    result.device = state.device;
    result.packageVersion = m_reader->displayVersion();
    result.lastMessage = state.lastMessage;
    result.elapsedSeconds = state.elapsedSeconds;
    result.finishedAt = m_clock.now();
    m_results->LineFinished(result);
}

void LineController::LogStatus(int line, int status)
{
    int& last = m_lastStatus[size_t(line)];
    if (status == last)
        return;
    last = status;
    // A ready device is logged when it is offered.
    if (status == -1)
        Log(line, QStringLiteral("no device"));
    else if (status != 0)
        Log(line, QStringLiteral("not ready: status %1").arg(status));
}

void LineController::Log(int line, const QString& text)
{
    if (!m_log)
        return;
    const LineState& state = m_lines[size_t(line)];
    const QString imei = state.device.imei.isEmpty() ? QStringLiteral("-") : TextCodec::decode(state.device.imei);
    const QString port = state.port.name.isEmpty() ? QStringLiteral("-") : state.port.name;
    m_log->Add(m_clock.now(),
               QStringLiteral("line %1 %2 IMEI %3 %4").arg(QString::number(line + 1), port, imei, text));
}

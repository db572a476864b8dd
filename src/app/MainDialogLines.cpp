// MainDialog: starting lines, the port scan, engine messages and results.
#include "app/MainDialog.h"

#include "FlashEngine.h"
#include "app/MainWindowLayout.h"
#include "lines/LineVerifier.h"
#include "lines/LineWorker.h"
#include "lines/VersionStem.h"
#include "lines/WindowThreadCall.h"
#include "platform/StationPaths.h"
#include "platform/TextCodec.h"
#include "records/PassCounters.h"
#include "records/RecordLine.h"
#include "records/RecordStore.h"
#include "settings/LanguageText.h"
#include "settings/VersionFileReader.h"

#include <QLabel>
#include <QTimer>

#include <future>

namespace {

// "%d:%d" from ten seconds on, "%d:0%d" below; minutes are not limited.
QString formatElapsed(int seconds)
{
    return QString::asprintf(seconds % 60 >= 10 ? "%d:%d" : "%d:0%d", seconds / 60, seconds % 60);
}

} // namespace

void MainDialog::StartLine(int line)
{
    LineState& state = m_lines[size_t(line)];
    if (!state.enabled)
        return;
    if (m_versionReader->directory().isEmpty()) {
        m_prompter.warn(Text("IDC_EXE_INFO_VERSIONPATHNULL"));
        return;
    }
    SetLineItem(LINE_ITEM_BUTTON, line, QStringLiteral("0"));
    SetLineItem(LINE_ITEM_BADGE, line, QStringLiteral("2"));
    state.running = 1;
    state.elapsedSeconds = 0;
    m_lineTimers[size_t(line)]->start();

    ++m_liveWorkers;
    const LineJob job{state.port.number, line};
    if (LineWorker::Start(job, [this](const LineJob& j) { RunLine(j); --m_liveWorkers; }))
        return;
    // Left running, the line could never end and the tool never close again:
    // give the line back as it was before the start.
    --m_liveWorkers;
    m_lineTimers[size_t(line)]->stop();
    state.running = 0;
    SetLineItem(LINE_ITEM_BADGE, line, QStringLiteral("1"));
    SetLineItem(LINE_ITEM_BUTTON, line, QStringLiteral("1"));
    Prompter::Message box;
    box.caption = StationPaths::applicationName();
    box.text = QStringLiteral("Thread begin error!");
    box.icon = Prompter::Icon::None;
    m_prompter.message(box);
}

void MainDialog::StartAllLines()
{
    if (RefusedWhileBusy())
        return;
    if (m_versionReader->directory().isEmpty()) {
        m_prompter.warn(Text("IDC_EXE_INFO_VERSIONPATHNULL"));
        return;
    }
    for (int line = 0; line < kLines; ++line)
        StartLine(line);
}

// The body of a line's worker thread.
void MainDialog::RunLine(const LineJob& job)
{
    const int line = job.line;
    const DeviceInfo device = m_lines[size_t(line)].device;
    const bool passed = m_verifier->VerifyLine(device, [this, line](const QString& text) {
        SetLineItem(LINE_ITEM_INFO, line, text);
    });
    if (!passed) {
        SetLineItem(LINE_ITEM_BADGE, line, QStringLiteral("4"));
        RunOnWindowThread(&m_callContext, [this, line] { StopLine(line); });
        return;
    }
    // The Port Config dialog cannot change the port while the line runs.
    m_engine.engine()->Download(line, m_lines[size_t(line)].port.number);
}

void MainDialog::StopLine(int line)
{
    m_lineTimers[size_t(line)]->stop();
    m_lines[size_t(line)].running = 0;
    m_lines[size_t(line)].enabled = 0;
}

void MainDialog::RefreshPorts(int offer)
{
    for (int line = 0; line < kLines; ++line) {
        LineState& state = m_lines[size_t(line)];
        if (state.port.number == 0) {
            SetLineItem(LINE_ITEM_INFO, line, QString());
            SetLineItem(LINE_ITEM_BUTTON, line, QStringLiteral("0"));
            SetLineItem(LINE_ITEM_VERSION, line, QString());
            SetLineItem(LINE_ITEM_IMEI, line, QString());
            SetLineItem(LINE_ITEM_BADGE, line, QStringLiteral("0"));
            SetLineItem(LINE_ITEM_ELAPSED, line, QStringLiteral("0:00"));
            SetLineProgress(0, line);
            continue;
        }
        if (state.running)
            continue;
        EngineText info{};
        const int status = m_engine.engine()->QueryDevice(line, state.port.number, &info);
        info.text[sizeof(info.text) - 1] = '\0';
        state.device = ParseDeviceInfo(QByteArray(info.text));
        if (status == 0) {
            if (offer && !state.devicePresent) {
                SetLineItem(LINE_ITEM_IMEI, line, TextCodec::decode(state.device.imei));
                SetLineItem(LINE_ITEM_VERSION, line, TextCodec::decode(state.device.displayVersion));
                SetLineItem(LINE_ITEM_BUTTON, line, QStringLiteral("1"));
                SetLineItem(LINE_ITEM_INFO, line, Text("IDC_EXE_INFO_CLICKSTARTBTN"));
                SetLineItem(LINE_ITEM_BADGE, line, QStringLiteral("1"));
                state.enabled = 1;
                state.devicePresent = 1;
            } else if (!offer && !state.devicePresent) {
                state.enabled = 0;
            }
        } else if (status == -1) {
            SetLineItem(LINE_ITEM_IMEI, line, QString());
            SetLineItem(LINE_ITEM_VERSION, line, QString());
            SetLineItem(LINE_ITEM_BUTTON, line, QStringLiteral("0"));
            SetLineItem(LINE_ITEM_INFO, line, Text("IDC_EXE_INFO_NODEVICE"));
            SetLineItem(LINE_ITEM_BADGE, line, QStringLiteral("0"));
            SetLineItem(LINE_ITEM_ELAPSED, line, QStringLiteral("0:00"));
            SetLineProgress(0, line);
            state.enabled = 0;
            state.devicePresent = 0;
        } else {
            SetLineItem(LINE_ITEM_IMEI, line, QString());
            SetLineItem(LINE_ITEM_VERSION, line, QString());
            SetLineItem(LINE_ITEM_BUTTON, line, QStringLiteral("0"));
            SetLineItem(LINE_ITEM_INFO, line, Text("IDC_EXE_INFO_PHONEINARMMODE"));
            SetLineItem(LINE_ITEM_BADGE, line, QStringLiteral("0"));
            state.enabled = 0;
        }
    }
}

void MainDialog::OnTimer(int id)
{
    if (id >= 0 && id < kLines) {
        ++m_lines[size_t(id)].elapsedSeconds;
        UpdateLineClock(id);
    }
    if (id == kClockTimer) {
        const QDateTime now = m_clock.now();
        const QDate d = now.date();
        const QTime t = now.time();
        label(MainWindowLayout::IdClock)
            ->setText(QString::asprintf("%02d/%02d/%04d %02d:%02d:%02d", d.month(), d.day(), d.year(), t.hour(),
                                        t.minute(), t.second()));
    }
}

void MainDialog::UpdateLineClock(int line)
{
    SetLineItem(LINE_ITEM_ELAPSED, line, formatElapsed(m_lines[size_t(line)].elapsedSeconds));
    m_rows[size_t(line)].elapsed->update();
}

void MainDialog::OnLineDevice(const int32_t* offer, int /*line*/)
{
    RefreshPorts(*offer);
}

void MainDialog::OnLineProgress(int32_t percent, int line)
{
    if (line >= 0 && line < kLines)
        SetLineProgress(percent, line);
}

void MainDialog::OnLineMessage(const char* text, int line)
{
    SetLineItem(LINE_ITEM_INFO, line, TextCodec::decode(QByteArray(text)));
}

void MainDialog::OnLineResult(const int32_t* code, int line)
{
    if (line < 0 || line >= kLines || !m_lines[size_t(line)].running)
        return;
    StopLine(line);
    const bool passed = *code == 0;
    if (passed) {
        SetLineItem(LINE_ITEM_INFO, line, Text("IDC_EXE_INFO_DOWNLOADSUCC"));
        SetLineItem(LINE_ITEM_BADGE, line, QStringLiteral("3"));
        SetLineItem(LINE_ITEM_VERSION, line, TextCodec::decode(m_versionReader->displayVersion()));
    } else {
        SetLineItem(LINE_ITEM_INFO, line, Text("IDC_EXE_INFO_DOWNLOADFAIL"));
        SetLineItem(LINE_ITEM_BADGE, line, QStringLiteral("4"));
    }
    m_counters->UpdateCounters(passed, false, clockText());
    ShowCounters();
    LogLineResult(line, passed);
}

void MainDialog::LogLineResult(int line, bool passed)
{
    const DeviceInfo& device = m_lines[size_t(line)].device;
    LineRecord record;
    record.passed = passed;
    record.imei = device.imei;
    record.versionStem = VersionStem(device.displayVersion);
    record.deviceVersion = device.displayVersion;
    record.packageVersion = m_versionReader->displayVersion();
    record.date = FormatRecordDate(m_clock.now());
    m_records->AppendRecord(record);
}

void MainDialog::StartVersionReader()
{
    m_versionReader->setOpenFailureHandler([this] { ShowVersionFileError(); });
    m_versionReader->start();
    m_verifier = std::make_unique<LineVerifier>(*m_versionReader, m_skipVerification, &MainDialog::Text,
                                                m_services.versionWait);
}

// Called on the reader's thread: the box is shown by the window thread, and
// the reader waits until it has been dismissed (or the window goes away).
void MainDialog::ShowVersionFileError()
{
    auto dismissed = std::make_shared<std::promise<void>>();
    std::future<void> done = dismissed->get_future();
    QMetaObject::invokeMethod(
        &m_callContext,
        [this, dismissed] {
            Prompter::Message box;
            box.caption = QStringLiteral("Error");
            box.text = QStringLiteral("can't open version file!");
            box.ownedByWindow = false;
            m_prompter.message(box);
            dismissed->set_value();
        },
        Qt::QueuedConnection);
    while (done.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready && !m_closing) {
    }
}

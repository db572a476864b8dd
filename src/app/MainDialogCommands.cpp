// MainDialog: the buttons and menu commands other than starting lines.
#include "app/MainDialog.h"

#include "FlashEngine.h"
#include "app/AboutDialog.h"
#include "app/PortConfigDialog.h"
#include "platform/Shell.h"
#include "records/PassCounters.h"
#include "records/RecordStore.h"
#include "settings/LanguageText.h"
#include "settings/StationConfig.h"
#include "settings/VersionFileReader.h"

#include <QFileInfo>
#include <QLineEdit>

namespace {

// config.ini keeps at most this much of the version directory.
constexpr int kMaxPathBytes = 4000;

} // namespace

void MainDialog::OnVersionDirectory()
{
    if (refusedWhileBusy())
        return;
    Prompter::FolderRequest request;
    request.title = QStringLiteral("Please select software version directory");
    request.startDir = m_versionReader->directory();
    const QString chosen = m_prompter.chooseFolder(request);
    if (chosen.isEmpty())
        return;
    // A cut path would name another directory: refuse it instead.
    if (chosen.toUtf8().size() > kMaxPathBytes) {
        m_prompter.warn(QStringLiteral("The path has invalid character,please input again!"));
        return;
    }
    m_versionField->setText(chosen);
    StationConfig::WriteVersionPath(chosen);
    m_versionReader->chooseDirectory(chosen);
    m_lines.Engine()->ReloadSettings();
}

void MainDialog::OnPortConfig()
{
    if (refusedWhileBusy())
        return;
    std::array<int32_t, PortConfigDialog::kMaxPorts> ports{};
    int32_t count = PortConfigDialog::kMaxPorts;
    m_lines.Engine()->EnumeratePorts(ports.data(), &count);
    std::array<LinePort, kLines> current;
    for (int line = 0; line < kLines; ++line)
        current[size_t(line)] = m_lines.LineStateOf(line).port;

    PortConfigDialog dialog(ports, count, current, this);
    if (dialog.exec() == QDialog::Accepted) {
        const std::array<QString, kLines> selection = dialog.selection();
        for (int line = 0; line < kLines; ++line)
            m_lines.SetLinePort(line, PortFromText(selection[size_t(line)]));
    }

    std::array<int, kLines> numbers{};
    for (int line = 0; line < kLines; ++line)
        numbers[size_t(line)] = m_lines.LineStateOf(line).port.number;
    StationConfig::WritePorts(numbers);
    RefreshPorts(1);
}

void MainDialog::OnExportRecords()
{
    if (refusedWhileBusy())
        return;
    m_records->ExportRecords();
}

void MainDialog::OnClearCounters()
{
    if (refusedWhileBusy())
        return;
    Prompter::Message question;
    question.caption = QStringLiteral("Clean");
    question.text = localText("IDC_EXE_INFO_CLEAN");
    question.icon = Prompter::Icon::Question;
    question.buttons = Prompter::Buttons::YesNo;
    question.defaultAnswer = Prompter::Answer::No;
    if (m_prompter.message(question) != Prompter::Answer::Yes)
        return;
    m_counters->UpdateCounters(false, true, ClockText());
    ShowCounters();
}

void MainDialog::OnHelp()
{
    const QString path = m_executableDir + QStringLiteral("help.doc");
    if (QFileInfo::exists(path))
        Shell::openDocument(path);
}

void MainDialog::OnAbout()
{
    AboutDialog about(m_icon, this);
    about.exec();
}

void MainDialog::OnDbStatus()
{
    m_recordDb.ShowStatus();
}

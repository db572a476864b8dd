#include "app/RecordPrompter.h"

#include "platform/ProcessEnd.h"
#include "platform/Prompter.h"
#include "platform/StationPaths.h"

RecordPrompter::RecordPrompter(Prompter& prompter)
    : m_prompter(prompter)
{
}

QString RecordPrompter::AskForRecordFile(bool chinese)
{
    Prompter::Message box;
    box.caption = StationPaths::applicationName();
    box.ownedByWindow = false; // may come before the main window exists
    if (chinese) {
        box.text = QStringLiteral("原始文件查找失败，请指定安装文件夹下'RecordCSV.sdi'文件路径.");
        box.icon = Prompter::Icon::Exclamation;
    } else {
        box.text = QStringLiteral("Fail to find 'RecordCSV.sdi',please select setup folder.");
        box.icon = Prompter::Icon::Information;
    }
    m_prompter.message(box);

    Prompter::FileRequest request;
    request.proposedName = QStringLiteral("RecordCSV.sdi");
    request.filter = QStringLiteral("QVR Record File(*.sdi) | *.sdi; ||");
    request.overwritePrompt = true;
    request.ownedByWindow = false;
    return m_prompter.openFile(request);
}

QString RecordPrompter::AskForExportFile(const QString& proposedName)
{
    Prompter::FileRequest request;
    request.proposedName = proposedName;
    request.filter = QStringLiteral("csv file(*.csv) | *.csv; ||");
    request.overwritePrompt = true;
    request.ownedByWindow = false;
    return m_prompter.saveFile(request);
}

void RecordPrompter::ShowExportResult(bool success, bool chinese)
{
    Prompter::Message box;
    box.caption = StationPaths::applicationName();
    if (success) {
        box.text = chinese ? QStringLiteral("CSV文件导出成功!") : QStringLiteral("CSV file save success!");
        box.icon = Prompter::Icon::Information;
    } else {
        box.text = chinese ? QStringLiteral("CSV格式记录文件导出失败!") : QStringLiteral("Export record CSV failed!");
        box.icon = chinese ? Prompter::Icon::Exclamation : Prompter::Icon::Error;
    }
    m_prompter.message(box);
}

void RecordPrompter::FatalError(const QString& message, int errorCode)
{
    Prompter::Message box;
    box.caption = StationPaths::applicationName();
    box.icon = Prompter::Icon::None;
    box.buttons = Prompter::Buttons::Ok;
    box.ownedByWindow = false;
    const QString texts[] = {
        QStringLiteral("An error occurred in running the program. \n"),
        message,
        QString::asprintf("Error number %x.\n", unsigned(errorCode)),
        QStringLiteral("Program terminating"),
    };
    for (const QString& text : texts) {
        box.text = text;
        m_prompter.message(box);
    }
    ProcessEnd::endProcess(1);
}

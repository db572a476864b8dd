#include "app/RecordDbPanel.h"

#include "platform/Prompter.h"
#include "platform/StationPaths.h"
#include "records/RecordDbLink.h"
#include "settings/LanguageText.h"

#include <QObject>

RecordDbPanel::RecordDbPanel(Prompter& prompter, QObject* context)
    : m_prompter(prompter)
    , m_context(context)
{
}

RecordDbPanel::~RecordDbPanel() = default;

RecordDbLink* RecordDbPanel::Start(const QByteArray& url, const QString& station, const QString& versionLabel)
{
    if (url.isEmpty())
        return nullptr;
    auto notify = [this](RecordDbLink::Problem problem, const QString& detail) {
        // Shown after the handler that found the problem has returned: a
        // line result must not wait for the operator.
        const char* key = problem == RecordDbLink::Problem::Link ? "IDC_EXE_DB_LINKFAIL" : "IDC_EXE_DB_OUTBOXFAIL";
        const QString text = LanguageText::instance().Lookup(key) + QStringLiteral("\n\n") + detail;
        QMetaObject::invokeMethod(m_context, [this, text] { m_prompter.warn(text); }, Qt::QueuedConnection);
    };
    m_link = std::make_unique<RecordDbLink>(url, RecordDbLink::defaultOutboxPath(StationPaths::dataDir()), station,
                                            versionLabel, notify);
    m_link->start();
    return m_link.get();
}

void RecordDbPanel::ShowStatus()
{
    if (!m_link)
        return;
    const RecordDbLink::Status status = m_link->status();
    Prompter::Message box;
    box.caption = QStringLiteral("Vintrel_Tool");
    box.icon = Prompter::Icon::Information;
    box.text = QStringLiteral("Server: %1\nLink: %2\nRecords waiting: %3\nLast error: %4")
                   .arg(status.server, status.linkUp ? QStringLiteral("working") : QStringLiteral("not working"),
                        status.waiting < 0 ? QStringLiteral("unknown") : QString::number(status.waiting),
                        status.lastError.isEmpty() ? QStringLiteral("none") : status.lastError);
    m_prompter.message(box);
}

void RecordDbPanel::Stop()
{
    m_link.reset();
}

#include "app/RecordDbPanel.h"

#include "platform/Prompter.h"
#include "platform/StationPaths.h"
#include "recorddb/RecordDbLink.h"
#include "settings/LanguageText.h"

#include <QObject>

RecordDbPanel::RecordDbPanel(Prompter& prompter, QObject* context)
    : m_prompter(prompter)
    , m_window(context)
{
}

RecordDbPanel::~RecordDbPanel() = default;

namespace {

const char* keyOf(RecordDbLink::Problem problem)
{
    switch (problem) {
    case RecordDbLink::Problem::Link:
        return "IDC_EXE_DB_LINKFAIL";
    case RecordDbLink::Problem::Outbox:
        return "IDC_EXE_DB_OUTBOXFAIL";
    case RecordDbLink::Problem::Schema:
        return "IDC_EXE_DB_SCHEMANEWER";
    case RecordDbLink::Problem::Held:
        return "IDC_EXE_DB_ENCODING";
    }
    return "IDC_EXE_DB_LINKFAIL";
}

} // namespace

RecordDbLink* RecordDbPanel::Start(const QByteArray& url, const QString& station, const QString& versionLabel,
                                   RecordStore* log)
{
    if (url.isEmpty())
        return nullptr;
    auto notify = [this](RecordDbLink::Problem problem, const QString& detail) {
        // Shown after the handler that found the problem has returned: a
        // line result must not wait for the operator.
        const QString text = LanguageText::Instance().Lookup(keyOf(problem)) + QStringLiteral("\n\n") + detail;
        m_window.post([this, text] { m_prompter.warn(text); });
    };
    m_link = std::make_unique<RecordDbLink>(url, RecordDbLink::defaultOutboxPath(StationPaths::dataDir()), station,
                                            versionLabel, notify, RecordUploader::Options{}, log);
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
    auto count = [](qint64 n) { return n < 0 ? QStringLiteral("unknown") : QString::number(n); };
    box.text = QStringLiteral("Server: %1\nLink: %2\nRecords waiting: %3\n").arg(
        status.server, status.linkUp ? QStringLiteral("working") : QStringLiteral("not working"), count(status.waiting));
    if (status.held > 0)
        box.text += QStringLiteral("Of these, not storable in the database's encoding: %1\n").arg(status.held);
    box.text += QStringLiteral("Records rejected by the database: %1%2\nLast error: %3")
                    .arg(count(status.rejected),
                         status.rejected > 0 ? QStringLiteral(" (listed by tools/station-report --rejected)") : QString(),
                         status.lastError.isEmpty() ? QStringLiteral("none") : status.lastError);
    m_prompter.message(box);
}

void RecordDbPanel::Stop()
{
    m_link.reset();
    // Boxes not yet shown are dropped with the window.
    m_window.detach();
}

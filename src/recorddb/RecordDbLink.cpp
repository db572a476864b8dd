#include "recorddb/RecordDbLink.h"

#include "platform/TextCodec.h"
#include "recorddb/PgConnection.h"
#include "records/RecordStore.h"

#include <QTimer>
#include <QUuid>

#include <utility>

namespace {

// The namespace of the record ids made from log lines.
const QUuid kLogLineIds(QStringLiteral("{4f1c7a52-93d0-5e8b-a6f1-0c7391d2b8e4}"));
// A failed insert into the outbox is tried again from the log after this.
constexpr int kReconcileRetryMs = 10000;
constexpr int kRecordFields = 19;

} // namespace

RecordDbLink::RecordDbLink(QByteArray url, QString outboxPath, QString station, QString toolVersion, Notify notify,
                           RecordUploader::Options options, RecordStore* log)
    : m_window(&m_context)
    , m_url(std::move(url))
    , m_station(station.isEmpty() ? QStringLiteral("Default") : std::move(station))
    , m_toolVersion(std::move(toolVersion))
    , m_notify(std::move(notify))
    , m_log(log)
    , m_outbox(outboxPath, RecordOutbox::Sync::Deferred)
{
    m_uploader = std::make_unique<RecordUploader>(
        outboxPath, m_url, std::move(options), [this](RecordUploader::Event event, const QString& detail) {
            // The uploader's thread: the news is handed to the window
            // thread, with a text of its own, not one shared with this thread.
            m_window.post([this, event, detail = QString(detail.constData(), detail.size())] {
                onReport(event, detail);
            });
        });
}

RecordDbLink::~RecordDbLink()
{
    // Joined first, so no news arrives for a link that is going away.
    m_uploader->stop();
    m_window.detach();
}

QString RecordDbLink::defaultOutboxPath(const QString& dataDir)
{
    return dataDir + QStringLiteral("record-outbox.db");
}

void RecordDbLink::start()
{
    if (!ensureOutbox() || !reconcile())
        reconcileLater();
    m_uploader->start();
}

bool RecordDbLink::ensureOutbox()
{
    if (m_outbox.isOpen() && m_outbox.stillOnDisk())
        return true;
    const bool lost = m_outbox.isOpen();
    if (!reopenOutbox())
        return false;
    if (lost) {
        tellOutboxReplaced(QStringLiteral("The outbox file %1 was deleted or replaced; a new one was started. "
                                    "Records that were waiting in it are kept only in the station's record log.")
                         .arg(m_outbox.path()));
    }
    return true;
}

bool RecordDbLink::reopenOutbox()
{
    if (!m_outbox.open(true)) {
        outboxFailed(m_outbox.lastError());
        return false;
    }
    if (!m_outbox.movedAsideTo().isEmpty()) {
        tellOutboxReplaced(QStringLiteral("The outbox file was damaged (%1). It was moved to %2 and a new one was "
                                    "started. Records that were waiting in it are kept only in the station's "
                                    "record log.")
                         .arg(m_outbox.lastError(), m_outbox.movedAsideTo()));
    }
    return true;
}

bool RecordDbLink::store(const QList<OutboxRecord>& records, std::optional<qint64> mark)
{
    if (!ensureOutbox())
        return false;
    auto insert = [&] { return mark ? m_outbox.addFromLog(records, *mark) : m_outbox.addAll(records); };
    if (!insert()) {
        // A file damaged in use is replaced once; the records go into the new one.
        const bool recovered = m_outbox.lastFailureWasCorruption() && reopenOutbox() && insert();
        if (!recovered) {
            outboxFailed(m_outbox.lastError());
            return false;
        }
    }
    m_outboxTold = false;
    m_outboxError.clear();
    m_uploader->wake();
    return true;
}

void RecordDbLink::add(const OutboxRecord& record)
{
    store({record}, std::nullopt);
}

// Each replacement is told: records were lost from the outbox's view.
void RecordDbLink::tellOutboxReplaced(const QString& detail)
{
    m_outboxError = detail;
    if (m_notify)
        m_notify(Problem::Outbox, detail);
}

QByteArray RecordDbLink::recordIdFor(const QString& station, qint64 offset, const QByteArray& line)
{
    const QByteArray name = station.toUtf8() + '\n' + QByteArray::number(offset) + '\n' + line;
    return QUuid::createUuidV5(kLogLineIds, name).toByteArray(QUuid::WithoutBraces);
}

std::optional<OutboxRecord> RecordDbLink::parseLogLine(const QByteArray& line)
{
    // Fields never hold a comma (the log replaces it), so the separator
    // splits them exactly.
    const QList<QByteArray> fields = line.split(',');
    if (fields.size() != kRecordFields)
        return std::nullopt;
    QList<QByteArray> f{fields[0]};
    for (qsizetype n = 1; n < fields.size(); ++n) {
        if (!fields[n].startsWith(' '))
            return std::nullopt;
        f << fields[n].mid(1);
    }
    if (f[2] != "PASS" && f[2] != "FAIL")
        return std::nullopt;
    const QByteArray check = f[2] == "PASS" ? "Y" : "N";
    for (qsizetype n = 7; n < kRecordFields; ++n) {
        if (f[n] != check)
            return std::nullopt;
    }
    const QDateTime when = QDateTime::fromString(QString::fromLatin1(f[4]), QStringLiteral("MM/dd/yyyy HH:mm"));
    if (!when.isValid())
        return std::nullopt;
    OutboxRecord r;
    r.imei = TextCodec::decode(f[0]);
    r.versionStem = TextCodec::decode(f[1]);
    r.passed = f[2] == "PASS";
    r.deviceVersion = TextCodec::decode(f[3]);
    r.recordedAt = when;
    r.station = TextCodec::decode(f[5]);
    r.packageVersion = TextCodec::decode(f[6]);
    return r;
}

void RecordDbLink::addLineResult(const LineRecord& line, const LineFacts& facts)
{
    OutboxRecord r;
    r.recordId = QUuid::createUuid().toByteArray(QUuid::WithoutBraces);
    r.station = m_station;
    r.imei = TextCodec::decode(line.imei);
    r.passed = line.passed;
    r.versionStem = TextCodec::decode(line.versionStem);
    r.deviceVersion = TextCodec::decode(line.deviceVersion);
    r.packageVersion = TextCodec::decode(line.packageVersion);
    r.recordedAt = facts.recordedAt;
    r.line = facts.line + 1;
    r.port = facts.port;
    r.engineCode = facts.engineCode;
    r.engineMessage = line.passed ? QString() : facts.lastMessage;
    r.elapsedSeconds = facts.elapsedSeconds;
    r.toolVersion = m_toolVersion;
    // The database's text may not hold a NUL; a device could send one.
    for (QString* text : {&r.imei, &r.versionStem, &r.deviceVersion, &r.packageVersion, &r.engineMessage})
        text->remove(QChar(0));

    const RecordStore::Appended appended = m_log ? m_log->LastAppended() : RecordStore::Appended{};
    if (appended.offset < 0) {
        add(r);
        return;
    }
    r.recordId = recordIdFor(m_station, appended.offset, appended.line);
    // The usual case: the line follows what the outbox already has, and the
    // mark moves on in the same commit.
    if (!m_reconcileDue && ensureOutbox() && m_outbox.logCheckedTo() == appended.offset) {
        if (!store({r}, appended.end))
            reconcileLater();
        return;
    }
    // Otherwise the lines before it are looked at too; the line itself
    // goes with its facts first, and the log's copy is then skipped.
    if (!store({r}, std::nullopt) || !reconcile())
        reconcileLater();
}

bool RecordDbLink::reconcile()
{
    m_reconcileDue = m_log != nullptr;
    if (!m_log)
        return true;
    if (!ensureOutbox())
        return false;
    std::optional<qint64> mark;
    if (!m_outbox.readLogMark(&mark)) {
        outboxFailed(m_outbox.lastError());
        return false;
    }
    if (!mark) {
        // A new outbox starts with the log as it is now; older records were
        // never meant for the database or went with an outbox now lost.
        const qint64 size = m_log->LogSize();
        if (size < 0 || !m_outbox.setLogCheckedTo(size)) {
            if (size >= 0)
                outboxFailed(m_outbox.lastError());
            return false;
        }
        m_reconcileDue = false;
        return true;
    }
    // The usual start: the log ends where the outbox's mark is, and need
    // not be decrypted.
    if (*mark == m_log->LogSize()) {
        m_reconcileDue = false;
        return true;
    }
    QByteArray tail;
    qint64 size = 0;
    if (!m_log->ReadLogFrom(*mark, &tail, &size))
        return false;
    // A log shorter than the mark was started anew: all of it is looked at,
    // and lines already queued are known by their ids.
    qint64 from = *mark;
    if (from > size) {
        from = 0;
        if (!m_log->ReadLogFrom(0, &tail, &size))
            return false;
    }
    QList<OutboxRecord> missing;
    qsizetype start = 0;
    // Only whole lines: one cut short is taken once the next record ends it.
    for (qsizetype end = tail.indexOf('\n'); end >= 0; start = end + 1, end = tail.indexOf('\n', start)) {
        QByteArray line = tail.mid(start, end - start);
        if (line.endsWith('\r'))
            line.chop(1);
        std::optional<OutboxRecord> record = parseLogLine(line);
        if (!record)
            continue;
        record->recordId = recordIdFor(m_station, from + start, line);
        record->station = m_station;
        record->toolVersion = m_toolVersion;
        if (!record->passed)
            record->engineMessage = QStringLiteral("(taken from the record log)");
        missing << *record;
    }
    if (!store(missing, from + start))
        return false;
    m_reconcileDue = false;
    return true;
}

void RecordDbLink::reconcileLater()
{
    m_reconcileDue = true;
    if (m_reconcileScheduled)
        return;
    m_reconcileScheduled = true;
    QTimer::singleShot(kReconcileRetryMs, &m_context, [this] {
        m_reconcileScheduled = false;
        if (m_reconcileDue && !reconcile())
            reconcileLater();
    });
}

void RecordDbLink::outboxFailed(const QString& detail)
{
    m_outboxError = detail;
    if (m_outboxTold)
        return;
    m_outboxTold = true;
    if (m_notify)
        m_notify(Problem::Outbox, detail);
}

void RecordDbLink::onReport(RecordUploader::Event event, const QString& detail)
{
    Problem problem = Problem::Link;
    switch (event) {
    case RecordUploader::Event::LinkUp:
        m_linkTold = false;
        return;
    case RecordUploader::Event::LinkDown:
        if (m_linkTold)
            return;
        // Set before telling: the box's own event loop may bring more news.
        m_linkTold = true;
        break;
    case RecordUploader::Event::SchemaNewer:
        m_linkTold = true;
        problem = Problem::Schema;
        break;
    case RecordUploader::Event::RecordsHeld:
        problem = Problem::Held;
        break;
    }
    if (m_notify)
        m_notify(problem, detail);
}

RecordDbLink::Status RecordDbLink::status()
{
    if (m_reconcileDue)
        reconcile();
    Status s;
    s.server = PgConnection::describeServer(m_url);
    ensureOutbox();
    s.waiting = m_outbox.waitingCount();
    s.held = m_outbox.heldCount();
    s.rejected = m_outbox.rejectedCount();
    const RecordUploader::Status upload = m_uploader->status();
    s.linkUp = upload.linkUp;
    s.lastError = m_outboxError.isEmpty() ? upload.lastError : m_outboxError;
    return s;
}

#include "records/RecordDbLink.h"

#include "platform/TextCodec.h"
#include "records/PgConnection.h"

#include <QMetaObject>
#include <QUuid>

#include <mutex>

#include <utility>

namespace {

std::mutex& handOverMutex()
{
    static std::mutex mutex;
    return mutex;
}

} // namespace

RecordDbLink::RecordDbLink(QByteArray url, QString outboxPath, QString station, QString toolVersion, Notify notify,
                           RecordUploader::Options options)
    : m_url(std::move(url))
    , m_station(station.isEmpty() ? QStringLiteral("Default") : std::move(station))
    , m_toolVersion(std::move(toolVersion))
    , m_notify(std::move(notify))
    , m_outbox(outboxPath, RecordOutbox::Sync::Deferred)
{
    m_uploader = std::make_unique<RecordUploader>(outboxPath, m_url, options, [this](bool up, const QString& error) {
        // The uploader's thread: hand the news to the window thread. Posted
        // with our own lock held, which the call takes before it reads its
        // captures (so the lock is not one of them): ThreadSanitizer cannot
        // see the order Qt's queue gives.
        const std::lock_guard ordered(handOverMutex());
        // The call gets a text of its own, not one shared with this thread.
        QMetaObject::invokeMethod(
            &m_context,
            [this, up, error = QString(error.constData(), error.size())] {
                { const std::lock_guard takenAfterPost(handOverMutex()); }
                onLinkChange(up, error);
            },
            Qt::QueuedConnection);
    });
}

RecordDbLink::~RecordDbLink()
{
    // Joined first, so no news arrives for a link that is going away.
    m_uploader->stop();
}

QString RecordDbLink::defaultOutboxPath(const QString& dataDir)
{
    return dataDir + QStringLiteral("record-outbox.db");
}

void RecordDbLink::start()
{
    ensureOutbox();
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

void RecordDbLink::add(const OutboxRecord& record)
{
    if (!ensureOutbox())
        return;
    if (!m_outbox.add(record)) {
        // A file damaged in use is replaced once; the record goes into the new one.
        const bool recovered = m_outbox.lastFailureWasCorruption() && reopenOutbox() && m_outbox.add(record);
        if (!recovered) {
            outboxFailed(m_outbox.lastError());
            return;
        }
    }
    m_outboxTold = false;
    m_outboxError.clear();
    m_uploader->wake();
}

// Each replacement is told: records were lost from the outbox's view.
void RecordDbLink::tellOutboxReplaced(const QString& detail)
{
    m_outboxError = detail;
    if (m_notify)
        m_notify(Problem::Outbox, detail);
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
    add(r);
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

void RecordDbLink::onLinkChange(bool up, const QString& error)
{
    if (up) {
        m_linkTold = false;
        return;
    }
    if (m_linkTold)
        return;
    // Set before telling: the box's own event loop may bring more news.
    m_linkTold = true;
    if (m_notify)
        m_notify(Problem::Link, error);
}

RecordDbLink::Status RecordDbLink::status()
{
    Status s;
    s.server = PgConnection::describeServer(m_url);
    ensureOutbox();
    s.waiting = m_outbox.pendingCount();
    const RecordUploader::Status upload = m_uploader->status();
    s.linkUp = upload.linkUp;
    s.lastError = m_outboxError.isEmpty() ? upload.lastError : m_outboxError;
    return s;
}

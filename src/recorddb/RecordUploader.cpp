#include "recorddb/RecordUploader.h"

#include "recorddb/PgConnection.h"
#include "recorddb/RecordDbSchema.h"
#include "recorddb/RecordOutbox.h"

#include <libpq-fe.h>

#include <algorithm>
#include <utility>

namespace {

// Text that the database's encoding cannot hold (character_not_in_repertoire,
// untranslatable_character): the database's limit, not the record's fault.
bool encodingCannotHold(const QByteArray& sqlState)
{
    return sqlState == "22021" || sqlState == "22P05";
}

// Invalid values and broken constraints: this record can never be stored,
// and must not hold up the ones behind it.
bool recordIsAtFault(const QByteArray& sqlState)
{
    return sqlState.startsWith("22") || sqlState.startsWith("23");
}

QString newerSchemaText(int version)
{
    return QStringLiteral("The record database's schema is version %1, newer than this station's version %2. "
                          "No record is sent until the station's tool is updated; records wait on the station.")
        .arg(version)
        .arg(RecordDbSchema::kVersion);
}

} // namespace

RecordUploader::RecordUploader(QString outboxPath, QByteArray conninfo, Options options, Report report)
    : m_outboxPath(std::move(outboxPath))
    , m_conninfo(std::move(conninfo))
    , m_options(std::move(options))
    , m_report(std::move(report))
    , m_retry(m_options.firstRetry)
{
}

RecordUploader::~RecordUploader()
{
    stop();
}

void RecordUploader::start()
{
    if (m_thread.joinable())
        return;
    m_stop = false;
    m_thread = std::thread([this] { run(); });
}

void RecordUploader::stop()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wakeUp.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void RecordUploader::wake()
{
    {
        const std::lock_guard lock(m_mutex);
        m_woken = true;
    }
    m_wakeUp.notify_all();
}

RecordUploader::Status RecordUploader::status() const
{
    const std::lock_guard lock(m_mutex);
    Status copy = m_status;
    // A text of its own: Qt's shared text buffers count their users in a
    // library that ThreadSanitizer cannot see into.
    copy.lastError = QString(m_status.lastError.constData(), m_status.lastError.size());
    return copy;
}

void RecordUploader::pause(std::chrono::milliseconds time, bool wakeable)
{
    std::unique_lock lock(m_mutex);
    m_wakeUp.wait_for(lock, time, [&] { return m_stop.load() || (wakeable && m_woken); });
    if (wakeable)
        m_woken = false;
}

// Waits before the next attempt, longer after each failure. Records added
// meanwhile are still put on disk as they come, not after the wait.
void RecordUploader::backOff(RecordOutbox& outbox)
{
    const auto end = std::chrono::steady_clock::now() + m_retry;
    m_retry = std::min(m_retry * 2, m_options.maxRetry);
    std::unique_lock lock(m_mutex);
    while (!m_stop) {
        if (!m_wakeUp.wait_until(lock, end, [&] { return m_stop.load() || m_woken; }))
            return;
        if (m_stop)
            return;
        m_woken = false;
        lock.unlock();
        if (outbox.isOpen())
            outbox.syncToDisk();
        lock.lock();
    }
}

void RecordUploader::run()
{
    // A mark lost with the power only sends a batch again; the checkpoint
    // below syncs marks and new records alike.
    RecordOutbox outbox(m_outboxPath, RecordOutbox::Sync::Deferred);
    PgConnection pg([this] { return m_stop.load(); }, m_options.lookup);
    while (!m_stop) {
        // The window thread makes a new outbox when the file was deleted or
        // damaged; this thread follows it to the new file.
        if (!outbox.isOpen() || !outbox.stillOnDisk()) {
            if (!outbox.open(false)) {
                noteError(outbox.lastError());
                pause(m_retry, false);
                continue;
            }
        }
        // The window thread's commits do not wait for the disk; this does.
        outbox.syncToDisk();
        if (!connectIfNeeded(pg, outbox) || !uploadBatch(pg, outbox)) {
            backOff(outbox);
            continue;
        }
        if (outbox.pendingCount() == 0)
            pause(m_options.idlePoll, true);
    }
}

bool RecordUploader::connectIfNeeded(PgConnection& pg, RecordOutbox& outbox)
{
    if (pg.isOpen())
        return true;
    {
        const std::lock_guard lock(m_mutex);
        ++m_status.connectAttempts;
    }
    int newer = 0;
    if (!pg.connect(m_conninfo, m_options.connectTimeout)
        || !RecordDbSchema::Ensure(pg, m_options.statementTimeout, &newer) || !requireDurableCommits(pg)) {
        const QString error = pg.error();
        pg.close();
        if (m_stop)
            return false;
        if (newer > 0)
            schemaNewer(newer);
        else
            linkFailed(error);
        return false;
    }
    // The database may have been changed to hold what it could not.
    if (!outbox.releaseHeld())
        noteError(outbox.lastError());
    linkWorks();
    return true;
}

bool RecordUploader::schemaIsNewer(PgConnection& pg)
{
    const int version = RecordDbSchema::StoredVersion(pg, m_options.statementTimeout);
    if (version <= RecordDbSchema::kVersion)
        return false;
    pg.close();
    schemaNewer(version);
    return true;
}

void RecordUploader::schemaNewer(int version)
{
    const QString text = newerSchemaText(version);
    bool changed = false;
    {
        const std::lock_guard lock(m_mutex);
        m_status.linkUp = false;
        m_status.lastError = text;
        changed = m_link != Link::SchemaNewer;
        m_link = Link::SchemaNewer;
    }
    if (changed && m_report)
        m_report(Event::SchemaNewer, text);
}

// A batch is marked as stored once the server acknowledged it; a server
// that acknowledges before its log is on disk could still lose it.
bool RecordUploader::requireDurableCommits(PgConnection& pg)
{
    const PgConnection::Result setting = pg.exec("SELECT current_setting('synchronous_commit')",
                                                 m_options.statementTimeout);
    if (!setting)
        return false;
    if (QByteArray(PQgetvalue(setting.get(), 0, 0)) != "off")
        return true;
    return bool(pg.exec("SET synchronous_commit TO on", m_options.statementTimeout));
}

bool RecordUploader::uploadBatch(PgConnection& pg, RecordOutbox& outbox)
{
    const QList<PendingRecord> batch = outbox.pending(m_options.batchSize);
    if (batch.isEmpty()) {
        if (outbox.pendingCount() < 0) {
            noteError(outbox.lastError());
            outbox.close();
            return false;
        }
        // Nothing to send: make sure the link still works, so that the
        // operator hears of an outage before the next record waits.
        if (!pg.exec("SELECT 1", m_options.statementTimeout)) {
            pg.close();
            if (!m_stop)
                linkFailed(pg.error());
            return false;
        }
        return true;
    }
    const bool stored = bool(pg.exec(RecordDbSchema::InsertStatement(int(batch.size())),
                                     RecordDbSchema::InsertParameters(batch), m_options.statementTimeout));
    if (!stored) {
        // A newer schema can make every record look malformed: none of
        // them is rejected for it.
        if (pg.isOpen() && recordIsAtFault(pg.sqlState()))
            return !schemaIsNewer(pg) && uploadOneByOne(pg, outbox, batch);
        pg.close();
        if (!m_stop)
            linkFailed(pg.error());
        return false;
    }
    if (m_afterInsert)
        m_afterInsert();
    QList<qint64> seqs;
    seqs.reserve(batch.size());
    for (const PendingRecord& p : batch)
        seqs.append(p.seq);
    // Not marked: the batch goes again and the server skips it.
    if (!outbox.markUploaded(seqs)) {
        noteError(outbox.lastError());
        outbox.close();
        return false;
    }
    const std::lock_guard lock(m_mutex);
    m_status.uploaded += batch.size();
    return true;
}

bool RecordUploader::uploadOneByOne(PgConnection& pg, RecordOutbox& outbox, const QList<PendingRecord>& batch)
{
    for (const PendingRecord& p : batch) {
        const QList<PendingRecord> one{p};
        const bool stored = bool(pg.exec(RecordDbSchema::InsertStatement(1), RecordDbSchema::InsertParameters(one),
                                         m_options.statementTimeout));
        if (!stored && !(pg.isOpen() && recordIsAtFault(pg.sqlState()))) {
            pg.close();
            if (!m_stop)
                linkFailed(pg.error());
            return false;
        }
        const bool held = !stored && encodingCannotHold(pg.sqlState());
        const QString refusal = stored ? QString() : pg.error();
        bool marked = false;
        if (stored)
            marked = outbox.markUploaded({p.seq});
        else if (held)
            marked = outbox.markHeld(p.seq, refusal);
        else
            marked = outbox.markRejected(p.seq, refusal);
        if (!marked) {
            noteError(outbox.lastError());
            outbox.close();
            return false;
        }
        if (held) {
            recordHeld(QStringLiteral("record %1 of %2: %3")
                           .arg(QString::fromLatin1(p.record.recordId), p.record.recordedAt.toString(Qt::ISODate),
                                refusal));
            continue;
        }
        if (!stored)
            noteError(QStringLiteral("record %1 refused: %2").arg(QString::fromLatin1(p.record.recordId), refusal));
        const std::lock_guard lock(m_mutex);
        ++(stored ? m_status.uploaded : m_status.rejected);
    }
    return true;
}

void RecordUploader::recordHeld(const QString& detail)
{
    bool tell = false;
    {
        const std::lock_guard lock(m_mutex);
        ++m_status.held;
        m_status.lastError = detail;
        tell = !m_heldTold;
        m_heldTold = true;
    }
    if (tell && m_report)
        m_report(Event::RecordsHeld, detail);
}

void RecordUploader::noteError(const QString& error)
{
    const std::lock_guard lock(m_mutex);
    m_status.lastError = error;
}

void RecordUploader::linkFailed(const QString& error)
{
    bool changed = false;
    {
        const std::lock_guard lock(m_mutex);
        m_status.linkUp = false;
        m_status.lastError = error;
        // A newer schema has been told already; an outage adds nothing.
        changed = m_link == Link::Unknown || m_link == Link::Up;
        if (m_link != Link::SchemaNewer)
            m_link = Link::Down;
    }
    if (changed && m_report)
        m_report(Event::LinkDown, error);
}

void RecordUploader::linkWorks()
{
    m_retry = m_options.firstRetry;
    bool changed = false;
    {
        const std::lock_guard lock(m_mutex);
        m_status.linkUp = true;
        changed = m_link != Link::Up;
        m_link = Link::Up;
    }
    if (changed && m_report)
        m_report(Event::LinkUp, QString());
}

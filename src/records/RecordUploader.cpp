#include "records/RecordUploader.h"

#include "records/PgConnection.h"
#include "records/RecordDbSchema.h"
#include "records/RecordOutbox.h"

#include <libpq-fe.h>

#include <algorithm>
#include <utility>

namespace {

// Invalid values and broken constraints: this record can never be stored,
// and must not hold up the ones behind it.
bool recordIsAtFault(const QByteArray& sqlState)
{
    return sqlState.startsWith("22") || sqlState.startsWith("23");
}

} // namespace

RecordUploader::RecordUploader(QString outboxPath, QByteArray conninfo, Options options, LinkChange onChange)
    : m_outboxPath(std::move(outboxPath))
    , m_conninfo(std::move(conninfo))
    , m_options(options)
    , m_onChange(std::move(onChange))
    , m_retry(options.firstRetry)
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
    PgConnection pg([this] { return m_stop.load(); });
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
        if (!connectIfNeeded(pg) || !uploadBatch(pg, outbox)) {
            backOff(outbox);
            continue;
        }
        if (outbox.pendingCount() == 0)
            pause(m_options.idlePoll, true);
    }
}

bool RecordUploader::connectIfNeeded(PgConnection& pg)
{
    if (pg.isOpen())
        return true;
    {
        const std::lock_guard lock(m_mutex);
        ++m_status.connectAttempts;
    }
    if (!pg.connect(m_conninfo, m_options.connectTimeout)
        || !RecordDbSchema::Ensure(pg, m_options.statementTimeout) || !requireDurableCommits(pg)) {
        pg.close();
        if (!m_stop)
            linkFailed(pg.error());
        return false;
    }
    linkWorks();
    return true;
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
        if (pg.isOpen() && recordIsAtFault(pg.sqlState()))
            return uploadOneByOne(pg, outbox, batch);
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
        if (!stored)
            noteError(QStringLiteral("record %1 refused: %2").arg(QString::fromLatin1(p.record.recordId), pg.error()));
        if (!(stored ? outbox.markUploaded({p.seq}) : outbox.markRejected(p.seq))) {
            noteError(outbox.lastError());
            outbox.close();
            return false;
        }
        const std::lock_guard lock(m_mutex);
        ++(stored ? m_status.uploaded : m_status.rejected);
    }
    return true;
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
        changed = m_link != Link::Down;
        m_link = Link::Down;
    }
    if (changed && m_onChange)
        m_onChange(false, error);
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
    if (changed && m_onChange)
        m_onChange(true, QString());
}

#include "recorddb/RecordOutbox.h"

#include <QDateTime>
#include <QFile>

#include "platform/FileState.h"

#include <sqlite3.h>

#include <utility>

namespace {

constexpr int kBusyTimeoutMs = 2000;
constexpr qint64 kKeepUploadedSeconds = 7 * 24 * 3600;

constexpr const char* kSetUp[] = {
    "PRAGMA journal_mode=WAL",
    "CREATE TABLE IF NOT EXISTS outbox ("
    " seq INTEGER PRIMARY KEY AUTOINCREMENT,"
    " record_id TEXT NOT NULL UNIQUE,"
    " station TEXT NOT NULL, imei TEXT NOT NULL, passed INTEGER NOT NULL,"
    " version_stem TEXT NOT NULL, device_version TEXT NOT NULL, package_version TEXT NOT NULL,"
    " recorded_at TEXT NOT NULL, line INTEGER NOT NULL, port INTEGER NOT NULL,"
    " engine_code INTEGER NOT NULL, engine_message TEXT NOT NULL,"
    " elapsed_seconds INTEGER NOT NULL, tool_version TEXT NOT NULL,"
    " queued_at INTEGER NOT NULL, uploaded INTEGER NOT NULL DEFAULT 0)",
    "CREATE INDEX IF NOT EXISTS outbox_pending ON outbox (uploaded, seq)",
    // How far the record log is known to be in the outbox (byte offset of
    // its plain text); one row.
    "CREATE TABLE IF NOT EXISTS log_mark (id INTEGER PRIMARY KEY CHECK (id = 1), checked_to INTEGER NOT NULL)",
};

// Version 2 keeps the server's reason for a refused record.
constexpr int kUserVersion = 2;
constexpr const char* kToVersion2 = "ALTER TABLE outbox ADD COLUMN refusal TEXT NOT NULL DEFAULT ''";

// The states of column "uploaded".
constexpr int kWaiting = 0;
constexpr int kUploaded = 1;
constexpr int kRejected = 2;
constexpr int kHeld = 3;

constexpr char kInsert[] =
    "INSERT OR IGNORE INTO outbox (record_id, station, imei, passed, version_stem, device_version,"
    " package_version, recorded_at, line, port, engine_code, engine_message, elapsed_seconds,"
    " tool_version, queued_at) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)";
constexpr char kSelect[] =
    "SELECT seq, record_id, station, imei, passed, version_stem, device_version, package_version,"
    " recorded_at, line, port, engine_code, engine_message, elapsed_seconds, tool_version"
    " FROM outbox WHERE uploaded = 0 ORDER BY seq LIMIT ?";
constexpr char kMark[] = "UPDATE outbox SET uploaded = ?2, refusal = ?3 WHERE seq = ?1";
constexpr char kCount[] = "SELECT count(*) FROM outbox WHERE uploaded = ?1 OR uploaded = ?2";
constexpr char kRejectedList[] =
    "SELECT seq, record_id, station, imei, passed, version_stem, device_version, package_version,"
    " recorded_at, line, port, engine_code, engine_message, elapsed_seconds, tool_version, refusal"
    " FROM outbox WHERE uploaded = 2 ORDER BY seq";

bool isCorruption(int code)
{
    const int primary = code & 0xff;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

void bindText(sqlite3_stmt* statement, int index, const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    sqlite3_bind_text(statement, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
}

void bindText(sqlite3_stmt* statement, int index, const QByteArray& text)
{
    sqlite3_bind_text(statement, index, text.constData(), int(text.size()), SQLITE_TRANSIENT);
}

QString columnText(sqlite3_stmt* statement, int column)
{
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    return QString::fromUtf8(text, sqlite3_column_bytes(statement, column));
}

// Offset kept, so the database gets the moment and the station's zone.
QString isoTime(const QDateTime& time)
{
    return time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

} // namespace

RecordOutbox::RecordOutbox(QString path, Sync sync)
    : m_path(std::move(path))
    , m_sync(sync)
{
}

RecordOutbox::~RecordOutbox()
{
    close();
}

bool RecordOutbox::open(bool recoverCorrupt)
{
    close();
    m_movedAsideTo.clear();
    if (openFile())
        return true;
    // A failed open leaves a handle behind; nothing may use it.
    close();
    if (!m_corrupt || !recoverCorrupt)
        return false;
    const QString error = m_lastError;
    if (!moveAside())
        return false;
    if (!openFile()) {
        close();
        return false;
    }
    // Open now, but the caller must still hear what happened to the old file.
    m_lastError = error;
    m_corrupt = true;
    return true;
}

bool RecordOutbox::openFile()
{
    m_corrupt = false;
    const QByteArray name = QFile::encodeName(m_path);
    const int opened = sqlite3_open_v2(name.constData(), &m_db,
                                       SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (opened != SQLITE_OK)
        return fail("open");
    sqlite3_extended_result_codes(m_db, 1);
    if (m_beforeCommit) {
        sqlite3_commit_hook(
            m_db,
            [](void* self) {
                static_cast<RecordOutbox*>(self)->m_beforeCommit();
                return 0;
            },
            this);
    }
    sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
    for (const char* sql : kSetUp) {
        if (!exec(sql))
            return false;
    }
    if (!upgrade())
        return false;
    // In WAL mode NORMAL writes each commit to the log file without waiting
    // for the disk; the checkpoint of syncToDisk() syncs it.
    if (!exec(m_sync == Sync::EachCommit ? "PRAGMA synchronous=FULL" : "PRAGMA synchronous=NORMAL"))
        return false;
    // A damaged page shows up here rather than in the middle of a shift.
    sqlite3_stmt* check = nullptr;
    if (!prepare(&check, "PRAGMA quick_check(1)"))
        return false;
    const int stepped = sqlite3_step(check);
    const bool sound = stepped == SQLITE_ROW && columnText(check, 0) == QLatin1String("ok");
    sqlite3_finalize(check);
    if (!sound) {
        m_lastError = QStringLiteral("%1: the outbox file is damaged").arg(m_path);
        m_corrupt = true;
        return false;
    }
    const QByteArray prune = "DELETE FROM outbox WHERE uploaded = 1 AND queued_at < "
        + QByteArray::number(QDateTime::currentSecsSinceEpoch() - kKeepUploadedSeconds);
    if (!exec(prune.constData()) || !prepare(&m_insert, kInsert) || !prepare(&m_select, kSelect)
        || !prepare(&m_mark, kMark) || !prepare(&m_count, kCount) || !prepare(&m_rejected, kRejectedList)
        || !prepare(&m_readMark, "SELECT checked_to FROM log_mark WHERE id = 1")
        || !prepare(&m_writeMark, "INSERT OR REPLACE INTO log_mark (id, checked_to) VALUES (1, ?1)"))
        return false;

    const std::optional<FileState::Stamp> stamp = FileState::stampOf(m_path);
    if (!stamp) {
        m_lastError = QStringLiteral("%1: the outbox file vanished while it was opened").arg(m_path);
        return false;
    }
    m_device = stamp->device;
    m_inode = stamp->inode;
    return true;
}

// An outbox of an older station gets the columns of this one.
bool RecordOutbox::upgrade()
{
    sqlite3_stmt* version = nullptr;
    if (!prepare(&version, "PRAGMA user_version"))
        return false;
    const int stepped = sqlite3_step(version);
    const int current = stepped == SQLITE_ROW ? sqlite3_column_int(version, 0) : -1;
    sqlite3_finalize(version);
    if (current < 0)
        return fail("user_version");
    if (current >= kUserVersion)
        return true;
    if (!exec("BEGIN IMMEDIATE"))
        return false;
    // A new file has version 0 and an outbox of the old layout 1; another
    // connection may have upgraded it meanwhile.
    sqlite3_stmt* column = nullptr;
    if (!prepare(&column, "SELECT count(*) FROM pragma_table_info('outbox') WHERE name = 'refusal'"))
        return rollBack();
    const bool hasRefusal = sqlite3_step(column) == SQLITE_ROW && sqlite3_column_int(column, 0) > 0;
    sqlite3_finalize(column);
    if (!hasRefusal && !exec(kToVersion2))
        return rollBack();
    const QByteArray setVersion = "PRAGMA user_version=" + QByteArray::number(kUserVersion);
    return (exec(setVersion.constData()) && exec("COMMIT")) || rollBack();
}

// The damaged file is kept for whoever wants to look at it.
bool RecordOutbox::moveAside()
{
    const QString target = m_path + QStringLiteral(".corrupt-")
        + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss"));
    if (!QFile::rename(m_path, target)) {
        m_lastError = QStringLiteral("%1: cannot move the damaged outbox aside").arg(m_path);
        return false;
    }
    for (const char* suffix : {"-wal", "-shm"}) {
        const QString side = m_path + QLatin1String(suffix);
        if (QFile::exists(side) && !QFile::rename(side, target + QLatin1String(suffix)))
            QFile::remove(side);
    }
    m_movedAsideTo = target;
    return true;
}

void RecordOutbox::close()
{
    finalizeAll();
    if (m_db) {
        sqlite3_close_v2(m_db);
        m_db = nullptr;
    }
}

void RecordOutbox::finalizeAll()
{
    for (sqlite3_stmt** statement : {&m_insert, &m_select, &m_mark, &m_count, &m_rejected, &m_readMark, &m_writeMark}) {
        sqlite3_finalize(*statement);
        *statement = nullptr;
    }
}

bool RecordOutbox::stillOnDisk() const
{
    if (!m_db)
        return false;
    const std::optional<FileState::Stamp> stamp = FileState::stampOf(m_path);
    return stamp && stamp->device == m_device && stamp->inode == m_inode;
}

bool RecordOutbox::exec(const char* sql)
{
    return sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) == SQLITE_OK || fail(sql);
}

bool RecordOutbox::prepare(sqlite3_stmt** statement, const char* sql)
{
    return sqlite3_prepare_v2(m_db, sql, -1, statement, nullptr) == SQLITE_OK || fail(sql);
}

bool RecordOutbox::fail(const char* what)
{
    const int code = m_db ? sqlite3_extended_errcode(m_db) : SQLITE_CANTOPEN;
    m_corrupt = isCorruption(code);
    m_lastError = QStringLiteral("%1: %2 (%3)")
                      .arg(m_path, m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QStringLiteral("cannot open"),
                           QString::fromUtf8(what).left(40));
    return false;
}

bool RecordOutbox::add(const OutboxRecord& record)
{
    if (!m_db) {
        m_lastError = QStringLiteral("%1: the outbox is not open").arg(m_path);
        return false;
    }
    return insert(record);
}

bool RecordOutbox::addAll(const QList<OutboxRecord>& records)
{
    if (!m_db || !exec("BEGIN IMMEDIATE"))
        return false;
    for (const OutboxRecord& record : records) {
        if (!insert(record))
            return rollBack();
    }
    return exec("COMMIT") || rollBack();
}

bool RecordOutbox::insert(const OutboxRecord& r)
{
    sqlite3_stmt* s = m_insert;
    bindText(s, 1, r.recordId);
    bindText(s, 2, r.station);
    bindText(s, 3, r.imei);
    sqlite3_bind_int(s, 4, r.passed ? 1 : 0);
    bindText(s, 5, r.versionStem);
    bindText(s, 6, r.deviceVersion);
    bindText(s, 7, r.packageVersion);
    bindText(s, 8, isoTime(r.recordedAt));
    sqlite3_bind_int(s, 9, r.line);
    sqlite3_bind_int(s, 10, r.port);
    sqlite3_bind_int(s, 11, r.engineCode);
    bindText(s, 12, r.engineMessage);
    sqlite3_bind_int(s, 13, r.elapsedSeconds);
    bindText(s, 14, r.toolVersion);
    sqlite3_bind_int64(s, 15, QDateTime::currentSecsSinceEpoch());
    const int stepped = sqlite3_step(s);
    sqlite3_reset(s);
    sqlite3_clear_bindings(s);
    return stepped == SQLITE_DONE || fail("add");
}

namespace {

// The columns of kSelect and kRejectedList, from seq on.
PendingRecord readRecord(sqlite3_stmt* s)
{
    PendingRecord p;
    p.seq = sqlite3_column_int64(s, 0);
    OutboxRecord& r = p.record;
    r.recordId = columnText(s, 1).toLatin1();
    r.station = columnText(s, 2);
    r.imei = columnText(s, 3);
    r.passed = sqlite3_column_int(s, 4) != 0;
    r.versionStem = columnText(s, 5);
    r.deviceVersion = columnText(s, 6);
    r.packageVersion = columnText(s, 7);
    r.recordedAt = QDateTime::fromString(columnText(s, 8), Qt::ISODateWithMs);
    r.line = sqlite3_column_int(s, 9);
    r.port = sqlite3_column_int(s, 10);
    r.engineCode = sqlite3_column_int(s, 11);
    r.engineMessage = columnText(s, 12);
    r.elapsedSeconds = sqlite3_column_int(s, 13);
    r.toolVersion = columnText(s, 14);
    return p;
}

} // namespace

QList<PendingRecord> RecordOutbox::pending(int limit)
{
    QList<PendingRecord> records;
    if (!m_db)
        return records;
    sqlite3_stmt* s = m_select;
    sqlite3_bind_int(s, 1, limit);
    int stepped = SQLITE_ROW;
    while ((stepped = sqlite3_step(s)) == SQLITE_ROW)
        records.append(readRecord(s));
    sqlite3_reset(s);
    if (stepped != SQLITE_DONE) {
        fail("pending");
        records.clear();
    }
    return records;
}

QList<RecordOutbox::Refused> RecordOutbox::rejected()
{
    QList<Refused> records;
    if (!m_db)
        return records;
    int stepped = SQLITE_ROW;
    while ((stepped = sqlite3_step(m_rejected)) == SQLITE_ROW)
        records.append({readRecord(m_rejected), columnText(m_rejected, 15)});
    sqlite3_reset(m_rejected);
    if (stepped != SQLITE_DONE) {
        fail("rejected");
        records.clear();
    }
    return records;
}

bool RecordOutbox::markUploaded(const QList<qint64>& seqs)
{
    return setState(seqs, kUploaded);
}

bool RecordOutbox::markRejected(qint64 seq, const QString& refusal)
{
    return setState({seq}, kRejected, refusal);
}

bool RecordOutbox::markHeld(qint64 seq, const QString& reason)
{
    return setState({seq}, kHeld, reason);
}

bool RecordOutbox::releaseHeld()
{
    return m_db && exec("UPDATE outbox SET uploaded = 0, refusal = '' WHERE uploaded = 3");
}

bool RecordOutbox::setState(const QList<qint64>& seqs, int state, const QString& refusal)
{
    if (!m_db || !exec("BEGIN IMMEDIATE"))
        return false;
    for (const qint64 seq : seqs) {
        sqlite3_bind_int64(m_mark, 1, seq);
        sqlite3_bind_int(m_mark, 2, state);
        bindText(m_mark, 3, refusal);
        const int stepped = sqlite3_step(m_mark);
        sqlite3_reset(m_mark);
        if (stepped != SQLITE_DONE) {
            fail("mark");
            return rollBack();
        }
    }
    return exec("COMMIT") || rollBack();
}

// Keeps the error that led here.
bool RecordOutbox::rollBack()
{
    const QString error = m_lastError;
    sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    m_lastError = error;
    return false;
}

bool RecordOutbox::syncToDisk()
{
    return m_db && (sqlite3_wal_checkpoint_v2(m_db, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr) == SQLITE_OK
                    || fail("checkpoint"));
}

qint64 RecordOutbox::countStates(int state, int orState)
{
    if (!m_db)
        return -1;
    qint64 count = -1;
    sqlite3_bind_int(m_count, 1, state);
    sqlite3_bind_int(m_count, 2, orState);
    if (sqlite3_step(m_count) == SQLITE_ROW)
        count = sqlite3_column_int64(m_count, 0);
    else
        fail("count");
    sqlite3_reset(m_count);
    return count;
}

qint64 RecordOutbox::pendingCount()
{
    return countStates(kWaiting, kWaiting);
}

qint64 RecordOutbox::waitingCount()
{
    return countStates(kWaiting, kHeld);
}

qint64 RecordOutbox::heldCount()
{
    return countStates(kHeld, kHeld);
}

qint64 RecordOutbox::rejectedCount()
{
    return countStates(kRejected, kRejected);
}

std::optional<qint64> RecordOutbox::logCheckedTo()
{
    std::optional<qint64> mark;
    readLogMark(&mark);
    return mark;
}

bool RecordOutbox::readLogMark(std::optional<qint64>* mark)
{
    mark->reset();
    if (!m_db)
        return false;
    const int stepped = sqlite3_step(m_readMark);
    if (stepped == SQLITE_ROW)
        *mark = sqlite3_column_int64(m_readMark, 0);
    sqlite3_reset(m_readMark);
    return stepped == SQLITE_ROW || stepped == SQLITE_DONE || fail("log mark");
}

bool RecordOutbox::writeMark(qint64 checkedTo)
{
    sqlite3_bind_int64(m_writeMark, 1, checkedTo);
    const int stepped = sqlite3_step(m_writeMark);
    sqlite3_reset(m_writeMark);
    return stepped == SQLITE_DONE || fail("log mark");
}

bool RecordOutbox::setLogCheckedTo(qint64 checkedTo)
{
    return m_db && writeMark(checkedTo);
}

bool RecordOutbox::addFromLog(const QList<OutboxRecord>& records, qint64 checkedTo)
{
    if (!m_db || !exec("BEGIN IMMEDIATE"))
        return false;
    for (const OutboxRecord& record : records) {
        if (!insert(record))
            return rollBack();
    }
    if (!writeMark(checkedTo))
        return rollBack();
    return exec("COMMIT") || rollBack();
}

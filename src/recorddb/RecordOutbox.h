#pragma once

#include "recorddb/OutboxRecord.h"

#include <QList>
#include <QString>

#include <functional>
#include <optional>

#include <sys/types.h>

struct sqlite3;
struct sqlite3_stmt;

// The station's durable queue of records for the record database: an SQLite
// file in WAL mode, so a record that add() accepted survives a crash of the
// tool, and, once synced (at once, or by syncToDisk() from the uploader),
// a power loss. Uploaded records are marked, not deleted, and pruned after
// a week.
//
// One object per thread: the window thread adds, the uploader reads and
// marks, each through its own connection to the same file.
class RecordOutbox final
{
public:
    enum class Sync {
        // Every commit waits for the disk.
        EachCommit,
        // A commit is in the operating system's hands when add() returns,
        // which survives a crash of the tool; syncToDisk() on another
        // thread makes it survive a power loss too.
        Deferred,
    };

    explicit RecordOutbox(QString path, Sync sync = Sync::EachCommit);
    ~RecordOutbox();
    RecordOutbox(const RecordOutbox&) = delete;
    RecordOutbox& operator=(const RecordOutbox&) = delete;

    // Opens the outbox, creating it when missing. With recoverCorrupt, a
    // file that is not a sound outbox is moved aside (movedAsideTo()) and a
    // fresh one is made; without it, open() fails on such a file.
    bool open(bool recoverCorrupt);
    void close();
    bool isOpen() const { return m_db != nullptr; }
    // False when the file was deleted or replaced since open().
    bool stillOnDisk() const;

    // A record whose id the outbox already holds is not added again.
    bool add(const OutboxRecord& record);
    // Several records in one commit: all or none.
    bool addAll(const QList<OutboxRecord>& records);
    // The oldest records waiting to be sent, at most limit.
    QList<PendingRecord> pending(int limit);
    bool markUploaded(const QList<qint64>& seqs);
    // The server refused the record as malformed: kept with the server's
    // reason, but not sent again.
    bool markRejected(qint64 seq, const QString& refusal = {});
    // The server cannot store the record as it stands (its text does not
    // fit the database's encoding): it keeps waiting, but is not sent again
    // until releaseHeld().
    bool markHeld(qint64 seq, const QString& reason = {});
    bool releaseHeld();
    // Counts; -1 when the outbox cannot be read. Waiting: to be sent, held
    // ones included; pending: to be sent now.
    qint64 pendingCount();
    qint64 waitingCount();
    qint64 heldCount();
    qint64 rejectedCount();

    struct Refused
    {
        PendingRecord record;
        QString refusal;
    };
    // Every rejected record still in the outbox, oldest first.
    QList<Refused> rejected();

    // How far the plain record log is known to be in the outbox, in bytes;
    // nothing for an outbox that has never been matched against the log.
    std::optional<qint64> logCheckedTo();
    // The same, false when the outbox cannot be read.
    bool readLogMark(std::optional<qint64>* mark);
    bool setLogCheckedTo(qint64 checkedTo);
    // Records taken from the log, and the new mark, in one commit.
    bool addFromLog(const QList<OutboxRecord>& records, qint64 checkedTo);
    // Puts every commit so far on the disk (a checkpoint of the log).
    bool syncToDisk();

    // Runs inside every commit of this connection, before it is final; for
    // tests that kill the process at that point. Set before open().
    void setBeforeCommitHook(std::function<void()> hook) { m_beforeCommit = std::move(hook); }

    const QString& path() const { return m_path; }
    const QString& lastError() const { return m_lastError; }
    // True when the last failure came from a damaged file.
    bool lastFailureWasCorruption() const { return m_corrupt; }
    const QString& movedAsideTo() const { return m_movedAsideTo; }

private:
    bool openFile();
    bool moveAside();
    bool exec(const char* sql);
    bool prepare(sqlite3_stmt** statement, const char* sql);
    bool fail(const char* what);
    bool rollBack();
    bool upgrade();
    bool setState(const QList<qint64>& seqs, int state, const QString& refusal = {});
    qint64 countStates(int state, int orState);
    bool writeMark(qint64 checkedTo);
    bool insert(const OutboxRecord& record);
    void finalizeAll();

    QString m_path;
    Sync m_sync;
    sqlite3* m_db = nullptr;
    sqlite3_stmt* m_insert = nullptr;
    sqlite3_stmt* m_select = nullptr;
    sqlite3_stmt* m_mark = nullptr;
    sqlite3_stmt* m_count = nullptr;
    sqlite3_stmt* m_rejected = nullptr;
    sqlite3_stmt* m_readMark = nullptr;
    sqlite3_stmt* m_writeMark = nullptr;
    dev_t m_device = 0;
    ino_t m_inode = 0;
    QString m_lastError;
    bool m_corrupt = false;
    QString m_movedAsideTo;
    std::function<void()> m_beforeCommit;
};

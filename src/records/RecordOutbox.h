#pragma once

#include "records/OutboxRecord.h"

#include <QList>
#include <QString>

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

    bool add(const OutboxRecord& record);
    // Several records in one commit: all or none.
    bool addAll(const QList<OutboxRecord>& records);
    // The oldest records not yet uploaded, at most limit.
    QList<PendingRecord> pending(int limit);
    bool markUploaded(const QList<qint64>& seqs);
    // The server refused the record as malformed: kept, but not sent again.
    bool markRejected(qint64 seq);
    // -1 when the outbox cannot be read.
    qint64 pendingCount();
    // Puts every commit so far on the disk (a checkpoint of the log).
    bool syncToDisk();

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
    bool setState(const QList<qint64>& seqs, int state);
    bool insert(const OutboxRecord& record);
    void finalizeAll();

    QString m_path;
    Sync m_sync;
    sqlite3* m_db = nullptr;
    sqlite3_stmt* m_insert = nullptr;
    sqlite3_stmt* m_select = nullptr;
    sqlite3_stmt* m_mark = nullptr;
    sqlite3_stmt* m_count = nullptr;
    dev_t m_device = 0;
    ino_t m_inode = 0;
    QString m_lastError;
    bool m_corrupt = false;
    QString m_movedAsideTo;
};

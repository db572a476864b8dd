#pragma once

#include "recorddb/HostResolver.h"
#include "recorddb/OutboxRecord.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

class PgConnection;
class RecordOutbox;

// The one background thread that drains the outbox into the record
// database: batches of the oldest records, each stored with an insert that
// skips record ids the server already has, then marked in the outbox. A
// crash between the two only sends a batch again, so every record is stored
// exactly once. While the server cannot be reached the thread retries with
// growing pauses. It never touches a widget: what the operator must hear of
// is handed to a callback that runs on this thread.
//
// A record the server refuses as malformed is marked rejected; one whose
// text the database's encoding cannot hold is held (it keeps waiting and is
// tried again after the next connect); a database whose schema is newer
// than this station's gets no insert at all.
class RecordUploader final
{
public:
    struct Options
    {
        int batchSize = 500;
        std::chrono::milliseconds connectTimeout{10000};
        std::chrono::milliseconds statementTimeout{30000};
        std::chrono::milliseconds firstRetry{1000};
        std::chrono::milliseconds maxRetry{60000};
        // Looks at the outbox this often even when nobody wakes the thread.
        std::chrono::milliseconds idlePoll{5000};
        // Name lookups of the server's host; the system's when empty.
        HostResolver::Lookup lookup;
    };

    struct Status
    {
        bool linkUp = false;
        QString lastError;
        qint64 uploaded = 0;  // records the server acknowledged since start
        qint64 rejected = 0;  // records the server refused as malformed
        qint64 held = 0;      // times a record was held for its text
        int connectAttempts = 0;
    };

    enum class Event {
        LinkUp,      // the link works (again)
        LinkDown,    // detail says why it failed
        SchemaNewer, // the database's schema is newer than the station's
        RecordsHeld, // the database cannot store a record's text
    };
    // Each change is reported once: LinkDown and SchemaNewer again only
    // after a LinkUp, RecordsHeld once per uploader.
    using Report = std::function<void(Event event, const QString& detail)>;

    RecordUploader(QString outboxPath, QByteArray conninfo, Options options, Report report);
    ~RecordUploader();
    RecordUploader(const RecordUploader&) = delete;
    RecordUploader& operator=(const RecordUploader&) = delete;

    void start();
    // Returns once the thread has ended; a wait on the server is abandoned.
    void stop();
    // New records are waiting.
    void wake();
    Status status() const;

    // Runs after the server acknowledged a batch and before the outbox mark.
    void setAfterInsertHook(std::function<void()> hook) { m_afterInsert = std::move(hook); }

private:
    enum class Link { Unknown, Up, Down, SchemaNewer };

    void run();
    bool connectIfNeeded(PgConnection& pg, RecordOutbox& outbox);
    // The server refused an insert for its values: true when the reason is
    // a newer schema (told, and the link closed).
    bool schemaIsNewer(PgConnection& pg);
    void schemaNewer(int version);
    bool requireDurableCommits(PgConnection& pg);
    // Sends one batch; false when the link or the outbox failed.
    bool uploadBatch(PgConnection& pg, RecordOutbox& outbox);
    bool uploadOneByOne(PgConnection& pg, RecordOutbox& outbox, const QList<PendingRecord>& batch);
    void linkFailed(const QString& error);
    void recordHeld(const QString& detail);
    void linkWorks();
    void noteError(const QString& error);
    // Waits for the time given, or until stopped (or woken, if wakeable).
    void pause(std::chrono::milliseconds time, bool wakeable);
    void backOff(RecordOutbox& outbox);

    const QString m_outboxPath;
    const QByteArray m_conninfo;
    const Options m_options;
    const Report m_report;
    std::function<void()> m_afterInsert;

    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;
    std::condition_variable m_wakeUp;
    bool m_woken = false;
    Status m_status;
    Link m_link = Link::Unknown;
    bool m_heldTold = false;
    std::chrono::milliseconds m_retry;
};

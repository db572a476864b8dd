#pragma once

#include "records/OutboxRecord.h"

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
// growing pauses. It never touches a widget: changes of the link are handed
// to a callback that runs on this thread.
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
    };

    struct Status
    {
        bool linkUp = false;
        QString lastError;
        qint64 uploaded = 0;  // records the server acknowledged since start
        qint64 rejected = 0;  // records the server refused as malformed
        int connectAttempts = 0;
    };

    // up: the link works (again); otherwise error says why it failed.
    using LinkChange = std::function<void(bool up, const QString& error)>;

    RecordUploader(QString outboxPath, QByteArray conninfo, Options options, LinkChange onChange);
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
    enum class Link { Unknown, Up, Down };

    void run();
    bool connectIfNeeded(PgConnection& pg);
    bool requireDurableCommits(PgConnection& pg);
    // Sends one batch; false when the link or the outbox failed.
    bool uploadBatch(PgConnection& pg, RecordOutbox& outbox);
    bool uploadOneByOne(PgConnection& pg, RecordOutbox& outbox, const QList<PendingRecord>& batch);
    void linkFailed(const QString& error);
    void linkWorks();
    void noteError(const QString& error);
    // Waits for the time given, or until stopped (or woken, if wakeable).
    void pause(std::chrono::milliseconds time, bool wakeable);
    void backOff(RecordOutbox& outbox);

    const QString m_outboxPath;
    const QByteArray m_conninfo;
    const Options m_options;
    const LinkChange m_onChange;
    std::function<void()> m_afterInsert;

    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;
    std::condition_variable m_wakeUp;
    bool m_woken = false;
    Status m_status;
    Link m_link = Link::Unknown;
    std::chrono::milliseconds m_retry;
};

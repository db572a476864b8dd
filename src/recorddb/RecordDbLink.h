#pragma once

#include "platform/WindowThread.h"
#include "recorddb/OutboxRecord.h"
#include "records/RecordLine.h"
#include "recorddb/RecordOutbox.h"
#include "recorddb/RecordUploader.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class RecordStore;

// The station's side of the record database, for the window thread: the
// outbox that every stored record goes into, the uploader thread that
// drains it, what the operator sees of the link, and the rule that a
// failure is told once rather than once per record.
//
// Every record line of the record log reaches the outbox once: a line's
// record id is made from the station, the line's place in the plain log and
// its text, and the outbox remembers how far the log is known to be in it.
// At start, and after an insert into the outbox failed or was cut short,
// the rest of the log is read and what is missing is added (with what the
// line holds: line, port and engine facts are then unknown, 0).
//
// Everything here runs on the thread that made the link; the uploader's
// news of the link arrives there through WindowThread::post.
class RecordDbLink final
{
public:
    enum class Problem {
        Link,   // the server cannot be reached or refuses the station
        Outbox, // the outbox file cannot take records, or was lost
        Schema, // the database's schema is newer than the station's
        Held,   // the database's encoding cannot hold a record's text
    };
    // Told once per failure: again only after things worked in between.
    using Notify = std::function<void(Problem problem, const QString& detail)>;

    struct Status
    {
        QString server;     // "user@host:port/database", never a password
        qint64 waiting = 0; // records not yet uploaded; -1 unknown
        qint64 held = 0;    // of those, ones the database cannot store now
        qint64 rejected = 0; // refused by the server as malformed, kept
        bool linkUp = false;
        QString lastError;
    };

    // What a line's result adds to the record line.
    struct LineFacts
    {
        int line = 0; // index 0..7
        int port = 0;
        int engineCode = 0;
        QString lastMessage; // kept for failed lines only
        int elapsedSeconds = 0;
        QDateTime recordedAt;
    };

    // station: the record log's station identifier ("Default" when empty);
    // toolVersion: the tool's version label; log: the record log whose
    // lines addLineResult() queues, or null.
    RecordDbLink(QByteArray url, QString outboxPath, QString station, QString toolVersion, Notify notify,
                 RecordUploader::Options options = {}, RecordStore* log = nullptr);
    ~RecordDbLink();
    RecordDbLink(const RecordDbLink&) = delete;
    RecordDbLink& operator=(const RecordDbLink&) = delete;

    // Opens the outbox, matches it against the record log and starts the
    // uploader.
    void start();
    // A record has been stored in the record log: queue it for the server.
    // Never blocks on the network; a failure is told, not thrown.
    void add(const OutboxRecord& record);
    // The same for a line's record that the record log has just taken
    // (RecordStore::LastAppended()); the record gets its id here.
    void addLineResult(const LineRecord& record, const LineFacts& facts);
    // Adds what the record log holds beyond the outbox's mark.
    bool reconcile();

    // The id of the record of a log line: the same for the same station,
    // place and text, whoever makes it.
    static QByteArray recordIdFor(const QString& station, qint64 offset, const QByteArray& line);
    // The record of a log line; nothing for a line that is not a record.
    static std::optional<OutboxRecord> parseLogLine(const QByteArray& line);
    Status status();

    RecordUploader& uploader() { return *m_uploader; }
    // Runs inside each commit of this link's outbox; set before start().
    void setBeforeOutboxCommitHook(std::function<void()> hook) { m_outbox.setBeforeCommitHook(std::move(hook)); }
    const QString& outboxPath() const { return m_outbox.path(); }

    // "<dataDir>record-outbox.db"
    static QString defaultOutboxPath(const QString& dataDir);

private:
    bool ensureOutbox();
    bool reopenOutbox();
    // Adds records, moving the log mark to mark when given; tells a failure.
    bool store(const QList<OutboxRecord>& records, std::optional<qint64> mark);
    void reconcileLater();
    void outboxFailed(const QString& detail);
    void tellOutboxReplaced(const QString& detail);
    void onReport(RecordUploader::Event event, const QString& detail);

    QObject m_context;
    WindowThread m_window;
    const QByteArray m_url;
    const QString m_station;
    const QString m_toolVersion;
    const Notify m_notify;
    RecordStore* const m_log;
    RecordOutbox m_outbox;
    std::unique_ptr<RecordUploader> m_uploader;
    bool m_linkTold = false;
    bool m_outboxTold = false;
    bool m_reconcileDue = false;
    bool m_reconcileScheduled = false;
    QString m_outboxError;
};

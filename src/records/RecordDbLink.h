#pragma once

#include "records/OutboxRecord.h"
#include "records/RecordLine.h"
#include "records/RecordOutbox.h"
#include "records/RecordUploader.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

// The station's side of the record database, for the window thread: the
// outbox that every stored record goes into, the uploader thread that
// drains it, what the operator sees of the link, and the rule that a
// failure is told once rather than once per record.
//
// Everything here runs on the thread that made the link; the uploader's
// news of the link arrives there through Qt's event queue.
class RecordDbLink final
{
public:
    enum class Problem {
        Link,   // the server cannot be reached or refuses the station
        Outbox, // the outbox file cannot take records, or was lost
    };
    // Told once per failure: again only after things worked in between.
    using Notify = std::function<void(Problem problem, const QString& detail)>;

    struct Status
    {
        QString server;     // "user@host:port/database", never a password
        qint64 waiting = 0; // records not yet uploaded; -1 unknown
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
    // toolVersion: the tool's version label.
    RecordDbLink(QByteArray url, QString outboxPath, QString station, QString toolVersion, Notify notify,
                 RecordUploader::Options options = {});
    ~RecordDbLink();
    RecordDbLink(const RecordDbLink&) = delete;
    RecordDbLink& operator=(const RecordDbLink&) = delete;

    // Opens the outbox and starts the uploader.
    void start();
    // A record has been stored in the record log: queue it for the server.
    // Never blocks on the network; a failure is told, not thrown.
    void add(const OutboxRecord& record);
    // The same for a line's record as the record log took it; the record
    // gets its id here.
    void addLineResult(const LineRecord& record, const LineFacts& facts);
    Status status();

    RecordUploader& uploader() { return *m_uploader; }
    const QString& outboxPath() const { return m_outbox.path(); }

    // "<dataDir>record-outbox.db"
    static QString defaultOutboxPath(const QString& dataDir);

private:
    bool ensureOutbox();
    bool reopenOutbox();
    void outboxFailed(const QString& detail);
    void tellOutboxReplaced(const QString& detail);
    void onLinkChange(bool up, const QString& error);

    QObject m_context;
    const QByteArray m_url;
    const QString m_station;
    const QString m_toolVersion;
    const Notify m_notify;
    RecordOutbox m_outbox;
    std::unique_ptr<RecordUploader> m_uploader;
    bool m_linkTold = false;
    bool m_outboxTold = false;
    QString m_outboxError;
};

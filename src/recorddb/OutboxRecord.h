#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

// One finished download as the station sends it to the record database:
// the fields of the record line plus what the line does not hold.
struct OutboxRecord
{
    QByteArray recordId; // UUID text, made when the record is made
    QString station;     // "Default" when the station has no identifier
    QString imei;
    bool passed = false;
    QString versionStem;
    QString deviceVersion;
    QString packageVersion;
    QDateTime recordedAt;
    int line = 0;        // 1..8 as the operator sees it
    int port = 0;
    int engineCode = 0;  // the engine's result code
    QString engineMessage; // last engine message of a failed line
    int elapsedSeconds = 0;
    QString toolVersion;
};

// A record waiting in the outbox, with its place in the queue.
struct PendingRecord
{
    qint64 seq = 0;
    OutboxRecord record;
};

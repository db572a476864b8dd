#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

// One finished download as the record log keeps it.
struct LineRecord
{
    bool passed = false;
    QByteArray imei;
    QByteArray versionStem;
    QByteArray deviceVersion;
    QByteArray packageVersion;
    QString date; // "%02d/%02d/%04d %02d:%02d"; empty: the time of formatting
};

// "MM/DD/YYYY hh:mm" (hour 0-23).
QString FormatRecordDate(const QDateTime& time);

// The nineteen fields joined by ", " and ended by "\r\n". Commas and line
// ends inside a field are replaced and formula starts are neutralised, so
// every line keeps its nineteen columns in a spreadsheet.
QByteArray FormatRecordLine(const LineRecord& record, const QByteArray& stationId,
                            const QDateTime& now);

// One field made safe for the log; a clean field comes back unchanged.
QByteArray SanitiseRecordField(const QByteArray& field);

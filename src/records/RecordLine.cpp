#include "records/RecordLine.h"

#include <QList>

QString FormatRecordDate(const QDateTime& time)
{
    const QDate d = time.date();
    const QTime t = time.time();
    return QString::asprintf("%02d/%02d/%04d %02d:%02d", d.month(), d.day(), d.year(),
                             t.hour(), t.minute());
}

QByteArray SanitiseRecordField(const QByteArray& field)
{
    QByteArray safe = field;
    // A comma would shift the columns after it, a line end would split the
    // record in two: both come from the device or the engine.
    safe.replace(',', ';');
    safe.replace('\r', ' ');
    safe.replace('\n', ' ');
    // A cell that starts with a tab is neutralised whatever follows: some
    // spreadsheets drop the tab and read what is behind it.
    if (safe.startsWith('\t'))
        return safe.prepend('\'');
    // A spreadsheet runs a cell that starts with one of these as a formula,
    // also after the blanks that follow each separator.
    qsizetype first = 0;
    while (first < safe.size() && (safe[first] == ' ' || safe[first] == '\t'))
        ++first;
    if (first < safe.size() && QByteArray("=+-@").contains(safe[first]))
        safe.insert(first, '\'');
    return safe;
}

QByteArray FormatRecordLine(const LineRecord& record, const QByteArray& stationId,
                            const QDateTime& now)
{
    const QString date = record.date.isEmpty() ? FormatRecordDate(now) : record.date;
    const QByteArray check = record.passed ? "Y" : "N";
    QList<QByteArray> fields = {
        record.imei,
        record.versionStem,
        record.passed ? "PASS" : "FAIL",
        record.deviceVersion,
        date.toUtf8(),
        stationId.isEmpty() ? QByteArray("Default") : stationId,
        record.packageVersion,
    };
    for (QByteArray& field : fields)
        field = SanitiseRecordField(field);
    for (int n = 0; n < 12; ++n)
        fields.append(check);
    return fields.join(", ") + "\r\n";
}

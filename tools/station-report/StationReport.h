#pragma once

#include "recorddb/RecordOutbox.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

class PgConnection;

// The shift figures of the record database: a summary per station, units
// per hour, first-pass yield, failures by port, and stations whose clock
// is off. The window is the stations' own recorded_at. Also the records
// that the server rejected, from a station's outbox.
class StationReport final
{
public:
    struct Section
    {
        QString title;
        QString figure; // first column of the CSV: which figures these are
        QStringList header;
        QList<QStringList> rows;
    };

    // "8h", "30m", "2d": the PostgreSQL interval text, or nothing.
    static std::optional<QByteArray> ParseSince(const QString& text);

    // since: an interval text of ParseSince; station: empty for all.
    StationReport(QByteArray since, QString station);

    // False on failure: conn.error() says why.
    bool Load(PgConnection& conn);
    // The rejected records of a station's outbox instead of the figures.
    void LoadRejected(const QList<RecordOutbox::Refused>& rejected);

    // A station whose recorded_at and received_at differ by more than this,
    // beyond its upload delay, has a clock to look at.
    static constexpr int kClockWarningSeconds = 300;
    const QList<Section>& sections() const { return m_sections; }

    QByteArray FormatTable() const;
    QByteArray FormatCsv() const;
    // One CSV field, quoted where needed; a spreadsheet formula start is
    // neutralised, since reasons come from devices and engines.
    static QByteArray CsvField(const QString& text);
    // One table cell as a terminal may show it: control characters (a
    // device's escape sequence, say) are written as \xNN or \uNNNN.
    static QString TableCell(const QString& text);

private:
    bool loadSection(PgConnection& conn, const QString& title, const QString& figure, const QStringList& header,
                     const QByteArray& sql);

    QByteArray m_since;
    QString m_station;
    QList<Section> m_sections;
};

#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

class PgConnection;

// The shift figures of the record database, read from its views: a summary
// per station, units per hour, first-pass yield and failures by port.
class StationReport final
{
public:
    struct Section
    {
        QString title;
        QString view; // the view the figures come from
        QStringList header;
        QList<QStringList> rows;
    };

    // "8h", "30m", "2d": the PostgreSQL interval text, or nothing.
    static std::optional<QByteArray> ParseSince(const QString& text);

    // since: an interval text of ParseSince; station: empty for all.
    StationReport(QByteArray since, QString station);

    // False on failure: conn.error() says why.
    bool Load(PgConnection& conn);
    const QList<Section>& sections() const { return m_sections; }

    QByteArray FormatTable() const;
    QByteArray FormatCsv() const;
    // One CSV field, quoted where needed; a spreadsheet formula start is
    // neutralised, since reasons come from devices and engines.
    static QByteArray CsvField(const QString& text);

private:
    bool loadSection(PgConnection& conn, const QString& title, const QString& view, const QStringList& header,
                     const QByteArray& sql);

    QByteArray m_since;
    QString m_station;
    QList<Section> m_sections;
};

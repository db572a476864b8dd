#include "StationReport.h"

#include "recorddb/PgConnection.h"

#include <QRegularExpression>

#include <libpq-fe.h>

#include <algorithm>
#include <utility>

namespace {

constexpr std::chrono::seconds kTimeout{60};

// $1: the interval, $2: the station or empty for all.
constexpr char kStation[] = " AND ($2 = '' OR station = $2)";

} // namespace

std::optional<QByteArray> StationReport::ParseSince(const QString& text)
{
    static const QRegularExpression pattern(QStringLiteral("^([1-9][0-9]{0,5})([mhd])$"));
    const QRegularExpressionMatch match = pattern.match(text.trimmed());
    if (!match.hasMatch())
        return std::nullopt;
    const QString unit = match.captured(2);
    const char* name = unit == QLatin1String("m") ? " minutes" : unit == QLatin1String("h") ? " hours" : " days";
    return match.captured(1).toLatin1() + name;
}

StationReport::StationReport(QByteArray since, QString station)
    : m_since(std::move(since))
    , m_station(std::move(station))
{
}

bool StationReport::Load(PgConnection& conn)
{
    m_sections.clear();
    const QByteArray window = QByteArray(" WHERE recorded_at >= date_trunc('hour', now() - $1::interval)") + kStation;
    const QByteArray hourly = QByteArray(" WHERE hour >= date_trunc('hour', now() - $1::interval)") + kStation;
    // Units are devices (distinct IMEIs); attempts count every download.
    // Per hour means per hour that has records.
    return loadSection(conn, QStringLiteral("Summary"), QStringLiteral("summary"),
                       {QStringLiteral("station"), QStringLiteral("attempts"), QStringLiteral("units"),
                        QStringLiteral("passed"), QStringLiteral("pass %"), QStringLiteral("attempts/hour"),
                        QStringLiteral("units/hour")},
                       "SELECT station, count(*), count(DISTINCT imei), count(*) FILTER (WHERE result = 'PASS'),"
                       " round(100.0 * count(*) FILTER (WHERE result = 'PASS') / count(*), 1),"
                       " round(count(*)::numeric / count(DISTINCT date_trunc('hour', recorded_at)), 1),"
                       " round(count(DISTINCT imei)::numeric / count(DISTINCT date_trunc('hour', recorded_at)), 1)"
                       " FROM download_records"
                           + window + " GROUP BY station ORDER BY station")
        && loadSection(conn, QStringLiteral("Units per hour"), QStringLiteral("units_per_hour"),
                       {QStringLiteral("station"), QStringLiteral("hour"), QStringLiteral("attempts"),
                        QStringLiteral("units"), QStringLiteral("passed")},
                       "SELECT station, to_char(hour, 'YYYY-MM-DD HH24:00'), attempts, units, passed"
                       " FROM units_per_hour"
                           + hourly + " ORDER BY station, hour")
        && loadSection(conn, QStringLiteral("First-pass yield"), QStringLiteral("first_pass_yield"),
                       {QStringLiteral("station"), QStringLiteral("day"), QStringLiteral("units"),
                        QStringLiteral("first pass"), QStringLiteral("yield %")},
                       QByteArray("SELECT station, to_char(day, 'YYYY-MM-DD'), units, first_pass, yield_percent"
                                  " FROM first_pass_yield WHERE day >= (now() - $1::interval)::date")
                           + kStation + " ORDER BY station, day")
        && loadSection(conn, QStringLiteral("Failures by port"), QStringLiteral("failures_by_port"),
                       {QStringLiteral("station"), QStringLiteral("line"), QStringLiteral("port"),
                        QStringLiteral("reason"), QStringLiteral("count")},
                       "SELECT station, line, port, reason, sum(count) FROM failures_by_port" + hourly
                           + " GROUP BY station, line, port, reason ORDER BY sum(count) DESC, station, line, port")
        // received_at - recorded_at is the upload delay plus the clock's
        // error; the station's promptest record shows the error alone.
        // Offset: how far the station's clock is ahead of the server's.
        && loadSection(conn, QStringLiteral("Clock warnings"), QStringLiteral("clock_warning"),
                       {QStringLiteral("station"), QStringLiteral("records"), QStringLiteral("clock offset (min)")},
                       "SELECT station, count(*),"
                       " to_char(round(extract(epoch FROM -min(received_at - recorded_at)) / 60, 1), 'FMS999990.0')"
                       " FROM download_records"
                           + window + " GROUP BY station HAVING abs(extract(epoch FROM min(received_at - recorded_at))) > "
                           + QByteArray::number(kClockWarningSeconds) + " ORDER BY station");
}

void StationReport::LoadRejected(const QList<RecordOutbox::Refused>& rejected)
{
    Section section{QStringLiteral("Rejected records"), QStringLiteral("rejected"),
                    {QStringLiteral("record id"), QStringLiteral("recorded at"), QStringLiteral("station"),
                     QStringLiteral("line"), QStringLiteral("port"), QStringLiteral("imei"), QStringLiteral("result"),
                     QStringLiteral("engine code"), QStringLiteral("engine message"), QStringLiteral("refusal")},
                    {}};
    for (const RecordOutbox::Refused& r : rejected) {
        const OutboxRecord& o = r.record.record;
        section.rows << QStringList{QString::fromLatin1(o.recordId), o.recordedAt.toString(Qt::ISODate), o.station,
                                    QString::number(o.line), QString::number(o.port), o.imei,
                                    o.passed ? QStringLiteral("PASS") : QStringLiteral("FAIL"),
                                    QString::number(o.engineCode), o.engineMessage, r.refusal};
    }
    m_sections = {section};
}

bool StationReport::loadSection(PgConnection& conn, const QString& title, const QString& figure,
                                const QStringList& header, const QByteArray& sql)
{
    const PgConnection::Result result = conn.exec(sql, {m_since, m_station.toUtf8()}, kTimeout);
    if (!result)
        return false;
    Section section{title, figure, header, {}};
    for (int r = 0; r < PQntuples(result.get()); ++r) {
        QStringList row;
        for (int c = 0; c < PQnfields(result.get()); ++c)
            row << QString::fromUtf8(PQgetvalue(result.get(), r, c));
        section.rows << row;
    }
    m_sections << section;
    return true;
}

QString StationReport::TableCell(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u == 0x7f)
            out += QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0'));
        else if (u >= 0x80 && u < 0xa0)
            out += QStringLiteral("\\u%1").arg(u, 4, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

QByteArray StationReport::FormatTable() const
{
    QString out;
    for (Section section : m_sections) {
        for (QStringList& row : section.rows) {
            for (QString& cell : row)
                cell = TableCell(cell);
        }
        if (!out.isEmpty())
            out += QLatin1Char('\n');
        out += section.title + QLatin1Char('\n');
        if (section.rows.isEmpty()) {
            out += QStringLiteral("  (none)\n");
            continue;
        }
        QList<qsizetype> widths;
        for (const QString& h : section.header)
            widths << h.size();
        for (const QStringList& row : section.rows) {
            for (qsizetype c = 0; c < row.size() && c < widths.size(); ++c)
                widths[c] = std::max(widths[c], row[c].size());
        }
        auto line = [&](const QStringList& cells) {
            QString text;
            for (qsizetype c = 0; c < cells.size(); ++c)
                text += QStringLiteral("  ") + cells[c].leftJustified(widths[c]);
            while (text.endsWith(QLatin1Char(' ')))
                text.chop(1);
            out += text + QLatin1Char('\n');
        };
        line(section.header);
        for (const QStringList& row : section.rows)
            line(row);
    }
    return out.toUtf8();
}

QByteArray StationReport::CsvField(const QString& text)
{
    QByteArray field = text.toUtf8();
    // A spreadsheet runs a cell as a formula when it starts with one of
    // these, also after blanks, tabs and line ends, which some of them
    // drop; a cell that starts with a tab or a line end is neutralised
    // whatever follows.
    qsizetype first = 0;
    while (first < field.size() && QByteArray(" \t\r\n").contains(field[first]))
        ++first;
    // A signed number is a number, not a formula.
    static const QRegularExpression number(QStringLiteral("^[+-][0-9]+(\\.[0-9]+)?$"));
    const bool formula =
        first < field.size() && QByteArray("=+-@").contains(field[first]) && !number.match(text).hasMatch();
    if (formula || field.startsWith('\t') || field.startsWith('\r'))
        field.prepend('\'');
    if (field.contains(',') || field.contains('"') || field.contains('\n') || field.contains('\r'))
        field = '"' + field.replace("\"", "\"\"") + '"';
    return field;
}

// One block per view, blank lines between; the first column names the view.
QByteArray StationReport::FormatCsv() const
{
    QByteArray out;
    for (const Section& section : m_sections) {
        if (!out.isEmpty())
            out += "\r\n";
        QList<QByteArray> header{"figure"};
        for (const QString& h : section.header)
            header << CsvField(h);
        out += header.join(',') + "\r\n";
        const QByteArray figure = section.figure.toUtf8();
        for (const QStringList& row : section.rows) {
            QList<QByteArray> fields{figure};
            for (const QString& cell : row)
                fields << CsvField(cell);
            out += fields.join(',') + "\r\n";
        }
    }
    return out;
}

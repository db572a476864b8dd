#include "recorddb/RecordDbSchema.h"

#include "recorddb/PgConnection.h"

#include <libpq-fe.h>

#include <vector>

namespace RecordDbSchema {
namespace {

// Steps from version n-1 to n, at index n-1. Never edit a step that has
// shipped; add the next one.
const std::vector<std::vector<const char*>> kSteps = {
    {
        "CREATE TABLE IF NOT EXISTS download_records ("
        " record_id uuid PRIMARY KEY,"
        " station text NOT NULL,"
        " imei text NOT NULL,"
        " result text NOT NULL CHECK (result IN ('PASS', 'FAIL')),"
        " recorded_at timestamptz NOT NULL,"
        " line smallint NOT NULL,"
        " port integer NOT NULL,"
        " version_stem text NOT NULL,"
        " device_version text NOT NULL,"
        " package_version text NOT NULL,"
        " engine_code integer NOT NULL,"
        " engine_message text NOT NULL,"
        " elapsed_seconds integer NOT NULL,"
        " tool_version text NOT NULL,"
        " received_at timestamptz NOT NULL DEFAULT now())",
        "CREATE INDEX IF NOT EXISTS download_records_recorded_at ON download_records (recorded_at)",
        "CREATE INDEX IF NOT EXISTS download_records_station ON download_records (station, recorded_at)",
        "CREATE INDEX IF NOT EXISTS download_records_imei ON download_records (imei)",
        // Attempts, distinct devices and passes of each station and hour.
        "CREATE OR REPLACE VIEW units_per_hour AS"
        " SELECT station, date_trunc('hour', recorded_at) AS hour,"
        "  count(*) AS attempts, count(DISTINCT imei) AS units,"
        "  count(*) FILTER (WHERE result = 'PASS') AS passed"
        " FROM download_records GROUP BY station, date_trunc('hour', recorded_at)",
        // A device counts once per day, for the station of its first attempt
        // that day; it passed first time when that attempt passed. Days are
        // those of the session's time zone.
        "CREATE OR REPLACE VIEW first_pass_yield AS"
        " WITH firsts AS ("
        "  SELECT DISTINCT ON (imei, recorded_at::date) station, recorded_at::date AS day, result"
        "  FROM download_records ORDER BY imei, recorded_at::date, recorded_at, record_id)"
        " SELECT station, day, count(*) AS units,"
        "  count(*) FILTER (WHERE result = 'PASS') AS first_pass,"
        "  round(100.0 * count(*) FILTER (WHERE result = 'PASS') / count(*), 1) AS yield_percent"
        " FROM firsts GROUP BY station, day",
        // The hour lets a report look at one shift.
        "CREATE OR REPLACE VIEW failures_by_port AS"
        " SELECT station, date_trunc('hour', recorded_at) AS hour, line, port,"
        "  CASE WHEN engine_message <> '' THEN engine_message"
        "   ELSE 'engine code ' || engine_code END AS reason,"
        "  count(*) AS count"
        " FROM download_records WHERE result = 'FAIL'"
        " GROUP BY 1, 2, 3, 4, 5",
    },
};

constexpr qint64 kMigrationLock = 73910010;

int storedVersion(PgConnection& conn, std::chrono::milliseconds timeout, bool* ok)
{
    *ok = false;
    PgConnection::Result table = conn.exec("SELECT to_regclass('station_schema') IS NOT NULL", timeout);
    if (!table)
        return 0;
    if (QByteArray(PQgetvalue(table.get(), 0, 0)) != "t") {
        *ok = true;
        return 0;
    }
    PgConnection::Result version = conn.exec("SELECT coalesce(max(version), 0) FROM station_schema", timeout);
    if (!version)
        return 0;
    *ok = true;
    return QByteArray(PQgetvalue(version.get(), 0, 0)).toInt();
}

bool migrate(PgConnection& conn, std::chrono::milliseconds timeout, int* found)
{
    if (!conn.exec("SELECT pg_advisory_xact_lock(" + QByteArray::number(kMigrationLock) + ")", timeout)
        || !conn.exec("CREATE TABLE IF NOT EXISTS station_schema (version integer NOT NULL)", timeout))
        return false;
    bool ok = false;
    const int from = storedVersion(conn, timeout, &ok);
    *found = from;
    if (!ok || from > kVersion)
        return false;
    for (int version = from + 1; version <= kVersion; ++version) {
        for (const char* sql : kSteps[size_t(version - 1)]) {
            if (!conn.exec(sql, timeout))
                return false;
        }
    }
    if (from >= kVersion)
        return true;
    return conn.exec("DELETE FROM station_schema", timeout)
        && conn.exec("INSERT INTO station_schema (version) VALUES ($1)", {QByteArray::number(kVersion)}, timeout);
}

} // namespace

bool Ensure(PgConnection& conn, std::chrono::milliseconds timeout, int* newerVersion)
{
    if (newerVersion)
        *newerVersion = 0;
    // Stations without the right to create tables work with a database that
    // is already up to date. A newer schema may hold columns this station
    // cannot fill: nothing is inserted there.
    bool ok = false;
    const int stored = storedVersion(conn, timeout, &ok);
    if (ok && stored > kVersion) {
        if (newerVersion)
            *newerVersion = stored;
        return false;
    }
    if (ok && stored == kVersion)
        return true;
    if (!ok || !conn.exec("BEGIN", timeout))
        return false;
    int migrated = 0;
    if (migrate(conn, timeout, &migrated) && conn.exec("COMMIT", timeout))
        return true;
    // Another station may have brought it past this one's version meanwhile.
    if (migrated > kVersion && newerVersion)
        *newerVersion = migrated;
    // Closing makes the server roll back, and error() keeps the reason.
    conn.close();
    return false;
}

int StoredVersion(PgConnection& conn, std::chrono::milliseconds timeout)
{
    bool ok = false;
    const int version = storedVersion(conn, timeout, &ok);
    return ok ? version : -1;
}

QByteArray InsertStatement(int rows)
{
    QByteArray sql = "INSERT INTO download_records (record_id, station, imei, result, recorded_at, line, port,"
                     " version_stem, device_version, package_version, engine_code, engine_message,"
                     " elapsed_seconds, tool_version) VALUES ";
    for (int row = 0; row < rows; ++row) {
        const int p = row * 14;
        sql += QStringLiteral("%1($%2::uuid, $%3, $%4, $%5, $%6::timestamptz, $%7::smallint, $%8::integer,"
                              " $%9, $%10, $%11, $%12::integer, $%13, $%14::integer, $%15)")
                   .arg(row ? QStringLiteral(", ") : QString())
                   .arg(p + 1).arg(p + 2).arg(p + 3).arg(p + 4).arg(p + 5).arg(p + 6).arg(p + 7)
                   .arg(p + 8).arg(p + 9).arg(p + 10).arg(p + 11).arg(p + 12).arg(p + 13).arg(p + 14)
                   .toLatin1();
    }
    sql += " ON CONFLICT (record_id) DO NOTHING";
    return sql;
}

QList<QByteArray> InsertParameters(const QList<PendingRecord>& records)
{
    QList<QByteArray> params;
    params.reserve(records.size() * 14);
    for (const PendingRecord& p : records) {
        const OutboxRecord& r = p.record;
        params << r.recordId << r.station.toUtf8() << r.imei.toUtf8()
               << QByteArray(r.passed ? "PASS" : "FAIL")
               << r.recordedAt.toOffsetFromUtc(r.recordedAt.offsetFromUtc()).toString(Qt::ISODateWithMs).toUtf8()
               << QByteArray::number(r.line) << QByteArray::number(r.port) << r.versionStem.toUtf8()
               << r.deviceVersion.toUtf8() << r.packageVersion.toUtf8() << QByteArray::number(r.engineCode)
               << r.engineMessage.toUtf8() << QByteArray::number(r.elapsedSeconds) << r.toolVersion.toUtf8();
    }
    return params;
}

} // namespace RecordDbSchema

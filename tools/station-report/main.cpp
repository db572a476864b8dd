// station-report --since 8h [--station NAME] [--csv] [--url URL]
// station-report --rejected [--outbox FILE] [--csv]
//
// Prints the shift figures of the record database. The connection text is
// "URL" of section "RECORD_DB" in the station's config.ini (the folder above
// this program's), unless --url gives one; passwords come from libpq's
// password file as for the tool.
//
// --rejected lists the records that the server refused, from the station's
// own outbox: the tool's, record-outbox.db in the data dir of the user who
// runs this, unless --outbox names another file. It needs no server.
#include "StationReport.h"

#include "platform/StationPaths.h"
#include "recorddb/PgConnection.h"
#include "recorddb/RecordDbLink.h"
#include "recorddb/RecordOutbox.h"
#include "settings/StationConfig.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cstdio>

namespace {

int usage()
{
    std::fputs("usage: station-report --since DURATION [--station NAME] [--csv] [--url URL]\n"
               "       station-report --rejected [--outbox FILE] [--csv]\n"
               "  DURATION: a number and m, h or d, e.g. 8h\n",
               stderr);
    return 2;
}

int printRejected(QString outboxPath, bool csv)
{
    if (outboxPath.isEmpty())
        outboxPath = RecordDbLink::defaultOutboxPath(StationPaths::dataDir());
    // Opening would create an empty one.
    if (!QFileInfo::exists(outboxPath)) {
        std::fprintf(stderr, "station-report: no outbox at %s\n", qPrintable(outboxPath));
        return 1;
    }
    RecordOutbox outbox(outboxPath);
    if (!outbox.open(false)) {
        std::fprintf(stderr, "station-report: %s\n", qPrintable(outbox.lastError()));
        return 1;
    }
    StationReport report({}, {});
    report.LoadRejected(outbox.rejected());
    if (!outbox.lastError().isEmpty()) {
        std::fprintf(stderr, "station-report: %s\n", qPrintable(outbox.lastError()));
        return 1;
    }
    const QByteArray text = csv ? report.FormatCsv() : report.FormatTable();
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments();
    args.removeFirst();
    QString since = QStringLiteral("8h");
    QString station;
    QByteArray url;
    QString outbox;
    bool csv = false;
    bool rejected = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == QLatin1String("--csv"))
            csv = true;
        else if (a == QLatin1String("--rejected"))
            rejected = true;
        else if (a == QLatin1String("--outbox") && hasValue)
            outbox = args[++i];
        else if (a == QLatin1String("--since") && hasValue)
            since = args[++i];
        else if (a == QLatin1String("--station") && hasValue)
            station = args[++i];
        else if (a == QLatin1String("--url") && hasValue)
            url = args[++i].toUtf8();
        else
            return usage();
    }
    if (rejected)
        return printRejected(outbox, csv);
    const std::optional<QByteArray> interval = StationReport::ParseSince(since);
    if (!interval)
        return usage();
    if (url.isEmpty()) {
        // The program lies in tools/ of the station folder.
        QDir stationDir(StationPaths::executableDir());
        stationDir.cdUp();
        StationPaths::overrideExecutableDir(stationDir.path());
        url = StationConfig::ReadRecordDbUrl();
        if (url.isEmpty()) {
            std::fprintf(stderr, "station-report: no URL in section RECORD_DB of %s\n",
                         qPrintable(StationConfig::file().path()));
            return 1;
        }
    }

    PgConnection conn;
    StationReport report(*interval, station);
    if (!conn.connect(url, std::chrono::seconds(15)) || !report.Load(conn)) {
        std::fprintf(stderr, "station-report: %s: %s\n", qPrintable(PgConnection::describeServer(url)),
                     qPrintable(conn.error()));
        return 1;
    }
    const QByteArray text = csv ? report.FormatCsv() : report.FormatTable();
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    return 0;
}

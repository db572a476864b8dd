// The record database from the station's side: what one record costs the
// window thread with the outbox off and on, what an outbox commit costs
// with and without waiting for the disk, and how many records per second
// the uploader moves from the outbox into a private PostgreSQL server.
#include "RecordBench.h"

#include "recorddb/PgTestServer.h"
#include "recorddb/RecordDbLink.h"
#include "recorddb/RecordOutbox.h"
#include "records/RecordStore.h"
#include "recorddb/RecordUploader.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QThread>
#include <QUuid>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

using RecordBench::SilentPrompts;

OutboxRecord outboxRecord(qint64 n)
{
    OutboxRecord r;
    r.recordId = QUuid::createUuid().toByteArray(QUuid::WithoutBraces);
    r.station = QStringLiteral("bench-station");
    r.imei = QString::number(356789000000000LL + n);
    r.passed = n % 7 != 0;
    r.versionStem = QStringLiteral("ABC_");
    r.deviceVersion = QStringLiteral("ABC_V1.0");
    r.packageVersion = QStringLiteral("ABC_V1.1");
    r.recordedAt = QDateTime::currentDateTime();
    r.line = int(n % 8) + 1;
    r.port = int(n % 8) + 3;
    r.engineCode = r.passed ? 0 : 17;
    r.engineMessage = r.passed ? QString() : QStringLiteral("write failed");
    r.elapsedSeconds = 75;
    r.toolVersion = QStringLiteral("Vintrel_RT40K_USV1.00.00");
    return r;
}

// Where the uploader sends: the private server when it can run here.
QByteArray serverOrNowhere()
{
    PgTestServer* server = PgTestServer::shared();
    if (server && server->running())
        return server->createDatabase();
    return "host=/nonexistent dbname=nowhere";
}

void BM_OutboxAdd(benchmark::State& state)
{
    QTemporaryDir dir;
    const auto sync = state.range(0) ? RecordOutbox::Sync::EachCommit : RecordOutbox::Sync::Deferred;
    RecordOutbox outbox(dir.filePath(QStringLiteral("outbox.db")), sync);
    if (!outbox.open(true))
        std::abort();
    qint64 n = 0;
    for (auto _ : state) {
        if (!outbox.add(outboxRecord(n++)))
            std::abort();
    }
    state.SetLabel(state.range(0) ? "sync each commit" : "sync deferred");
}

// One finished line as the window thread handles it: the record log's
// append, and with the outbox on, the hand-over to the record database.
void BM_WindowThreadRecord(benchmark::State& state)
{
    const bool outboxOn = state.range(0) != 0;
    QTemporaryDir dir;
    const QString data = dir.path() + QStringLiteral("/");
    SilentPrompts prompts;
    {
        QFile seed(data + QStringLiteral("RecordCSV.sdi"));
        if (!seed.open(QIODevice::WriteOnly))
            std::abort();
    }
    RecordStore store(prompts, data + QStringLiteral("RecordCSV.sdi"), data, QStringLiteral("bench-station"), false);
    if (!store.SeedWorkingCopy())
        std::abort();
    std::unique_ptr<RecordDbLink> link;
    if (outboxOn) {
        link = std::make_unique<RecordDbLink>(serverOrNowhere(), RecordDbLink::defaultOutboxPath(data),
                                              QStringLiteral("bench-station"), QStringLiteral("bench"),
                                              [](RecordDbLink::Problem, const QString&) {},
                                              RecordUploader::Options{}, &store);
        link->start();
    }
    qint64 n = 0;
    store.AppendRecord(RecordBench::lineRecord(n++)); // the first append reads the whole log
    for (auto _ : state) {
        const LineRecord record = RecordBench::lineRecord(n);
        if (!store.AppendRecord(record))
            std::abort();
        // As the window does it: the id and the outbox's mark from the log.
        if (link)
            link->addLineResult(record, {int(n % 8), 3, 0, QString(), 60, QDateTime::currentDateTime()});
        ++n;
    }
    state.SetLabel(outboxOn ? "outbox on" : "outbox off");
}

void BM_UploadToServer(benchmark::State& state)
{
    PgTestServer* server = PgTestServer::shared();
    if (!server || !server->running()) {
        state.SkipWithError("no private PostgreSQL server");
        return;
    }
    constexpr int kRecords = 20000;
    for (auto _ : state) {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("outbox.db"));
        {
            RecordOutbox outbox(path);
            QList<OutboxRecord> records;
            for (int n = 0; n < kRecords; ++n)
                records << outboxRecord(n);
            if (!outbox.open(true) || !outbox.addAll(records))
                std::abort();
        }
        RecordUploader::Options options;
        options.batchSize = int(state.range(0));
        RecordUploader uploader(path, server->createDatabase(), options, {});
        const auto start = std::chrono::steady_clock::now();
        uploader.start();
        while (uploader.status().uploaded < kRecords)
            QThread::msleep(1);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        uploader.stop();
        state.SetIterationTime(took.count());
    }
    state.SetItemsProcessed(state.iterations() * kRecords);
}

} // namespace

BENCHMARK(BM_OutboxAdd)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WindowThreadRecord)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_UploadToServer)->Arg(100)->Arg(500)->Arg(2000)->UseManualTime()->Iterations(3)
    ->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

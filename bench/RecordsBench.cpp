// Cost of one record appended to a log of 1k to 1M records, in place (the
// kept keystream) and by the full decrypt, append and encrypt. Logs are
// generated once per size in a temporary folder and grow by the records the
// benchmark adds.
#include "RecordBench.h"

#include "records/Rc4.h"
#include "records/RecordCipher.h"
#include "records/RecordStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>

namespace {

using RecordBench::SilentPrompts;

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// A data folder whose working copy and scratch file hold count records.
struct Log
{
    QTemporaryDir dir;
    SilentPrompts prompter;
    std::unique_ptr<RecordStore> store;
    qint64 next = 0;

    explicit Log(qint64 count)
    {
        QByteArray plain = "IMEI, Product, Result, DeviceVersion, Date, Station, PackageVersion";
        for (int n = 1; n <= 12; ++n)
            plain += ", Check" + QByteArray::number(n);
        plain += "\r\n";
        const QByteArray title = plain;
        plain.reserve(count * 120);
        for (; next < count; ++next)
            plain += FormatRecordLine(RecordBench::lineRecord(next), "bench-station", QDateTime());
        const QString data = dir.path() + QStringLiteral("/");
        QByteArray encrypted = plain;
        Rc4(RecordCipher::KeyFor("7391")).apply(encrypted);
        QByteArray seed = title;
        Rc4(RecordCipher::KeyFor("7391")).apply(seed);
        if (!writeFile(data + "RecordCSV.sdi", seed) || !writeFile(data + "rqvtcsv123.ds.dll", encrypted)
            || !writeFile(data + "rqvtcsv123.txt", plain))
            std::abort();
        store = std::make_unique<RecordStore>(prompter, data + "RecordCSV.sdi", data,
                                              QStringLiteral("bench-station"), false);
    }

    void append()
    {
        if (!store->AppendRecord(RecordBench::lineRecord(next++)))
            std::abort();
    }
};

Log& logOf(qint64 count)
{
    static std::map<qint64, std::unique_ptr<Log>> logs;
    auto& log = logs[count];
    if (!log)
        log = std::make_unique<Log>(count);
    return *log;
}

void appendRecords(benchmark::State& state, bool fast)
{
    Log& log = logOf(state.range(0));
    log.store->SetFastAppend(fast);
    log.append(); // the first record after a change of mode reads the whole log
    for (auto _ : state)
        log.append();
    state.counters["records"] = double(log.next);
    state.counters["log_MB"] =
        double(QFileInfo(log.store->WorkingCopyPath()).size()) / (1024.0 * 1024.0);
}

void BM_AppendInPlace(benchmark::State& state) { appendRecords(state, true); }
void BM_AppendFull(benchmark::State& state) { appendRecords(state, false); }

} // namespace

BENCHMARK(BM_AppendInPlace)->Arg(1000)->Arg(10000)->Arg(100000)->Arg(1000000)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_AppendFull)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AppendFull)->Arg(1000000)->Iterations(3)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();

// The daily log's cost to the thread that adds a line (the window thread in
// the tool), and how many lines a second its writer puts on disk.
#include "lines/StationLog.h"

#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <chrono>

namespace {

const QString kLine = QStringLiteral("line 3 USB_7 IMEI 356938035643809 engine: Writing system.img: 38.2 MB/s, 1:12 left");

// One Add, with a writer draining the queue behind it; the queue never
// fills at this rate, so every line is written.
void BM_Add(benchmark::State& state)
{
    QTemporaryDir dir;
    StationLog log(dir.path());
    log.Start();
    const QDateTime now = QDateTime::currentDateTime();
    for (auto _ : state)
        log.Add(now, kLine);
    log.Flush(std::chrono::seconds(60));
    state.counters["lost"] = double(log.LostLines());
}
BENCHMARK(BM_Add);

// Lines a second from queue to file, batches of 1000 added at once.
void BM_WriterThroughput(benchmark::State& state)
{
    QTemporaryDir dir;
    StationLog log(dir.path(), 100000);
    log.Start();
    const QDateTime now = QDateTime::currentDateTime();
    for (auto _ : state) {
        for (int i = 0; i < 1000; ++i)
            log.Add(now, kLine);
        log.Flush(std::chrono::seconds(60));
    }
    state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_WriterThroughput)->UseRealTime();

} // namespace

BENCHMARK_MAIN();

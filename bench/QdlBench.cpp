// Writes an image into emulated modules in download mode on the emulated USB
// hub (umockdev) three times: with Debian's qdl, one child process per
// module; with the modem engine (ModemEngine::Download, one line per module,
// as the tool calls it); and with the bare protocol core (ModemFlash over
// plain libusb bulk transfers, one thread per module), in this process. One module first, then several at
// once. Each qdl child gets a hub of its own, since this qdl takes the first
// 05c6:9008 device it finds; the protocol core's modules share one hub.
//
// Prints both wall times, their ratio and CPU seconds per GiB: for qdl its
// children's CPU time (the host) and this process's (the emulated hub); for
// the protocol core this process's, which holds host and hub both, and the
// share of the threads that ran the downloads.
// Every written range is compared with the image before the storage goes.
// The package has no patch file: qdl takes patches only under <patches>,
// the protocol core's reader only under <data>.
//
// umockdev sends a hub's uevents through this process's own view of sysfs,
// which is the last hub made; when the modules of the other qdl hubs come
// back in normal mode after their reset, umockdev says "uevent_sender_send:
// No such device" for their interfaces. qdl is done with them by then.
//
//   bench_qdl [image MiB, default 256] [modules, default 8]

#include "FlashBench.h"
#include "LibusbPacketLink.h"
#include "QdlProcess.h"
#include "UsbTestbed.h"

#include "FlashPackage.h"
#include "ModemEngine.h"
#include "ModemFlash.h"
#include "ModuleModel.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr uint64_t kSector = 512;
constexpr uint64_t kStartSector = 2048;

double processCpu()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double threadCpu()
{
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// A folder of this run's own in memory, named by a path outside /dev: this
// process runs with umockdev's preload, which sends every open() of a /dev
// path to the testbed's worker thread; the emulated modules write their
// storage from that very thread, which would then wait for itself.
fs::path scratchRoot()
{
    const fs::path base = fs::exists("/run/shm") ? fs::path("/run/shm") : fs::temp_directory_path();
    const fs::path root = base / ("bench-qdl-" + std::to_string(::getpid()));
    fs::create_directories(root / "package");
    return root;
}

struct Run
{
    bool child = false;    // the host ran in child processes
    double seconds = 0;
    double hostCpu = 0;    // the children, or the threads that ran the downloads
    double processCpu = 0; // this process
    int failed = 0;
};

struct Bench
{
    fs::path root;
    uint64_t imageBytes = 0;
    std::string programmer;

    modemdevice::ModuleSettings settings(int module) const
    {
        modemdevice::ModuleSettings s;
        s.startInDownload = true;
        s.programmer = programmer;
        s.imei = "35693803564380" + std::to_string(module);
        s.revision = "OLD";
        s.storageDir = (root / ("module" + std::to_string(module))).string();
        s.diskSectors = kStartSector + imageBytes / kSector + 1024;
        fs::create_directories(s.storageDir);
        return s;
    }

    // The image where the package put it; then the storage goes.
    bool checkAndClear(int module) const
    {
        const fs::path dir = root / ("module" + std::to_string(module));
        std::ifstream image(root / "package" / "system.img", std::ios::binary);
        std::ifstream written(dir / "lun0.img", std::ios::binary);
        written.seekg(std::streamoff(kStartSector * kSector));
        std::vector<char> a(1 << 20);
        std::vector<char> b(1 << 20);
        bool same = bool(written);
        for (uint64_t done = 0; same && done < imageBytes; done += a.size()) {
            image.read(a.data(), std::streamsize(a.size()));
            written.read(b.data(), std::streamsize(a.size()));
            same = image.gcount() == written.gcount() && std::memcmp(a.data(), b.data(), size_t(image.gcount())) == 0;
        }
        fs::remove_all(dir);
        return same;
    }
};

// Seven ports on the hub, then the root hub's second port.
std::string socketOf(int module)
{
    return module < 7 ? "1-1." + std::to_string(module + 1) : "1-" + std::to_string(module - 5);
}

Run runQdl(const Bench& bench, int modules)
{
    std::vector<std::unique_ptr<modemdevice::ModuleModel>> models;
    std::vector<std::unique_ptr<UsbTestbed>> beds;
    std::vector<std::string> dirs;
    for (int i = 0; i < modules; ++i) {
        models.push_back(std::make_unique<modemdevice::ModuleModel>(bench.settings(i)));
        beds.push_back(std::make_unique<UsbTestbed>());
        dirs.emplace_back(std::getenv("UMOCKDEV_DIR")); // the testbed just made says where it lives
        beds.back()->plugModule("1-1.1", *models.back());
    }
    const fs::path package = bench.root / "package";
    std::vector<std::unique_ptr<QdlProcess>> children;
    Run run;
    run.child = true;
    const double cpu = processCpu();
    const auto start = Clock::now();
    for (int i = 0; i < modules; ++i) {
        children.push_back(std::make_unique<QdlProcess>());
        std::string why;
        const std::string log = (bench.root / ("qdl" + std::to_string(i) + ".log")).string();
        if (!children.back()->start({"--storage", "emmc", "--include", package.string(),
                                     (package / "prog_firehose.mbn").string(), (package / "rawprogram0.xml").string()},
                                    dirs[size_t(i)], log, &why)) {
            std::fprintf(stderr, "qdl: %s\n", why.c_str());
            ++run.failed;
        }
    }
    for (auto& child : children)
        child->wait();
    run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    run.processCpu = processCpu() - cpu;
    for (int i = 0; i < modules; ++i) {
        run.hostCpu += children[size_t(i)]->cpuSeconds();
        if (children[size_t(i)]->exitCode() != 0) {
            std::printf("  qdl on module %d ended with %d, see %s\n", i, children[size_t(i)]->exitCode(),
                        (bench.root / ("qdl" + std::to_string(i) + ".log")).c_str());
            ++run.failed;
        }
        if (!bench.checkAndClear(i)) {
            std::printf("  module %d: written range differs from the image\n", i);
            ++run.failed;
        }
    }
    beds.clear();
    return run;
}

Run runOurs(const Bench& bench, int modules)
{
    modem::FlashPackage plan;
    std::string why;
    Run run;
    if (!modem::FlashPackage::load((bench.root / "package").string(), {}, &plan, &why)) {
        std::printf("  package: %s\n", why.c_str());
        run.failed = modules;
        return run;
    }
    std::vector<std::unique_ptr<modemdevice::ModuleModel>> models;
    UsbTestbed bed;
    std::vector<int> addresses;
    for (int i = 0; i < modules; ++i) {
        models.push_back(std::make_unique<modemdevice::ModuleModel>(bench.settings(i)));
        addresses.push_back(bed.plugModule(socketOf(i), *models.back()));
    }
    std::vector<double> hostCpu(static_cast<size_t>(modules), 0.0);
    std::vector<std::string> failures(static_cast<size_t>(modules));
    std::vector<std::thread> threads;
    const double cpu = processCpu();
    const auto start = Clock::now();
    for (int i = 0; i < modules; ++i) {
        threads.emplace_back([&, i] {
            const double begin = threadCpu();
            LibusbPacketLink link;
            std::string error;
            if (!link.open(1, addresses[size_t(i)], &error)) {
                failures[size_t(i)] = error;
            } else {
                modem::ModemFlash job(link, plan, modem::ModemFlash::Settings{}, {}, {});
                if (!job.run())
                    failures[size_t(i)] = job.failure().text;
            }
            hostCpu[size_t(i)] = threadCpu() - begin;
        });
    }
    for (std::thread& t : threads)
        t.join();
    run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    run.processCpu = processCpu() - cpu;
    for (int i = 0; i < modules; ++i) {
        run.hostCpu += hostCpu[size_t(i)];
        if (!failures[size_t(i)].empty()) {
            std::printf("  module %d failed: %s\n", i, failures[size_t(i)].c_str());
            ++run.failed;
        }
        if (!bench.checkAndClear(i)) {
            std::printf("  module %d: written range differs from the image\n", i);
            ++run.failed;
        }
    }
    return run;
}

// The engine as the tool drives it: Download(line, port) on a thread per
// line; read-back off, since qdl reads nothing back either.
Run runEngine(const Bench& bench, int modules)
{
    std::string ports;
    for (int i = 0; i < modules; ++i)
        ports += "PORT." + std::to_string(i + 1) + "=usb:" + socketOf(i) + "\n";
    std::ofstream(bench.root / "config.ini") << "[MODEM_Engine]\nLEARN_PORTS=0\nREADBACK=0\n" << ports
                                             << "[GET_DLL_Setting]\nITEM_VERSIONFILE_PATH="
                                             << (bench.root / "package").string() << "\n";
    std::vector<std::unique_ptr<modemdevice::ModuleModel>> models;
    UsbTestbed bed;
    for (int i = 0; i < modules; ++i) {
        models.push_back(std::make_unique<modemdevice::ModuleModel>(bench.settings(i)));
        bed.plugModule(socketOf(i), *models.back());
    }
    Run run;
    std::vector<double> hostCpu(static_cast<size_t>(modules), 0.0);
    FlashBench::ResultSink sink;
    {
        modem::ModemEngine engine(bench.root.string());
        engine.RegisterSink(&sink);
        std::vector<std::thread> lines;
        const double cpu = processCpu();
        const auto start = Clock::now();
        for (int i = 0; i < modules; ++i) {
            lines.emplace_back([&, i] {
                const double begin = threadCpu();
                engine.Download(i, i + 1);
                hostCpu[size_t(i)] = threadCpu() - begin;
            });
        }
        for (std::thread& t : lines)
            t.join();
        run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        run.processCpu = processCpu() - cpu;
    }
    for (int i = 0; i < modules; ++i) {
        run.hostCpu += hostCpu[size_t(i)];
        if (sink.results[i] != 0) {
            std::printf("  line %d failed with %d: %s\n", i, sink.results[i], sink.messages[i].c_str());
            ++run.failed;
        }
        if (!bench.checkAndClear(i)) {
            std::printf("  module %d: written range differs from the image\n", i);
            ++run.failed;
        }
    }
    return run;
}

void report(const char* name, const Run& run, double gib)
{
    std::printf("  %-6s %7.2f s  CPU s/GiB: ", name, run.seconds);
    if (run.child)
        std::printf("all %7.2f = host %7.2f (its processes) + emulated hub %7.2f", (run.hostCpu + run.processCpu) / gib,
                    run.hostCpu / gib, run.processCpu / gib);
    else
        std::printf("all %7.2f (this process: host and emulated hub), the downloading threads %.2f",
                    run.processCpu / gib, run.hostCpu / gib);
    std::printf("%s\n", run.failed ? "  [FAILED]" : "");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    std::string why;
    if (!UsbTestbed::available(&why)) {
        std::fprintf(stderr, "bench_qdl: %s\n", why.c_str());
        return 1;
    }
    if (QdlProcess::executable().empty()) {
        std::fprintf(stderr, "bench_qdl: qdl is not installed (Debian package qdl)\n");
        return 1;
    }
    const uint64_t imageMiB = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 256;
    const int many = argc > 2 ? std::atoi(argv[2]) : 8;

    Bench bench;
    bench.root = scratchRoot();
    bench.imageBytes = imageMiB * 1024 * 1024;
    bench.programmer.resize(512 * 1024);
    for (size_t i = 0; i < bench.programmer.size(); ++i)
        bench.programmer[i] = char((i * 2654435761u) >> 24);
    const fs::path package = bench.root / "package";
    std::ofstream(package / "prog_firehose.mbn", std::ios::binary) << bench.programmer;
    FlashBench::writeImage((package / "system.img").string(), bench.imageBytes);
    std::ofstream(package / "rawprogram0.xml")
        << "<?xml version=\"1.0\" ?>\n<data>\n  <program SECTOR_SIZE_IN_BYTES=\"512\" file_sector_offset=\"0\" "
           "filename=\"system.img\" label=\"system\" num_partition_sectors=\""
        << bench.imageBytes / kSector << "\" physical_partition_number=\"0\" start_sector=\"" << kStartSector
        << "\"/>\n</data>\n";
    std::printf("image %llu MiB per module, files in %s\n", static_cast<unsigned long long>(imageMiB),
                bench.root.c_str());
    std::printf("qdl's times include its own fixed waits: 5 s for the programmer's first words, 1 s after the reset\n");

    int status = 0;
    for (const int modules : {1, many}) {
        const double gib = double(bench.imageBytes) * modules / (1024.0 * 1024 * 1024);
        std::printf("%d module%s:\n", modules, modules == 1 ? "" : "s");
        const Run qdl = runQdl(bench, modules);
        report("qdl", qdl, gib);
        const Run engine = runEngine(bench, modules);
        report("engine", engine, gib);
        const Run core = runOurs(bench, modules);
        report("core", core, gib);
        std::printf("  time engine/qdl %.3f, core/qdl %.3f\n", engine.seconds / qdl.seconds,
                    core.seconds / qdl.seconds);
        status |= qdl.failed || engine.failed || core.failed;
    }
    fs::remove_all(bench.root);
    return status;
}

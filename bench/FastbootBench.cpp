// Flashes an image to emulated devices through the fastboot engine and
// through Debian's fastboot command (one process per device), same devices,
// same run, and prints wall time, the ratio and host CPU seconds per GiB of
// both: for one device and for eight at a time, with a plain image and with
// a sparse one (2 MiB data, 1 MiB fill, 1 MiB skipped in every 4 MiB).
//
//   bench_fastboot [image MiB, default 128] [max-download-size MiB, default 64] [rounds, default 2]
//
// Each emulated device runs in a process of its own, so that the host side
// is what is measured: the engine's CPU is this process's, the command's is
// that of its processes. Files live in /dev/shm when it exists.

#include "FlashBench.h"

#include "DeviceModel.h"
#include "FastbootEngine.h"
#include "SparseImage.h"
#include "TcpDeviceServer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// Every run starts from empty devices: writing over pages a previous run left
// in place is cheaper than writing new ones.
void emptyDevices(const fs::path& root, int count)
{
    for (int i = 1; i <= count; ++i) {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(root / ("device-" + std::to_string(i)), ec))
            fs::remove(entry.path(), ec);
    }
}

double seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

// Runs fastboot on each port at once; false when one of them fails.
bool runFastboot(const std::vector<int>& tcpPorts, const std::string& image)
{
    std::vector<pid_t> children;
    for (const int port : tcpPorts) {
        const std::string target = "tcp:127.0.0.1:" + std::to_string(port);
        const char* argv[] = {"fastboot", "-s", target.c_str(), "flash", "system", image.c_str(), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        pid_t pid = 0;
        if (posix_spawnp(&pid, "fastboot", &actions, nullptr, const_cast<char**>(argv), environ) != 0)
            return false;
        posix_spawn_file_actions_destroy(&actions);
        children.push_back(pid);
    }
    bool ok = true;
    for (const pid_t pid : children) {
        int status = 0;
        waitpid(pid, &status, 0);
        ok = ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    return ok;
}


// A sparse image that expands to bytes (a multiple of 4 MiB): in every 4 MiB,
// 2 MiB of data, 1 MiB of one fill value and 1 MiB skipped.
void writeSparseImage(const std::string& path, uint64_t bytes)
{
    constexpr uint32_t kBlock = 4096;
    constexpr uint32_t kMiBBlocks = 256;
    const uint64_t groups = bytes / (4ULL * 1024 * 1024);
    std::ofstream out(path, std::ios::binary);
    const auto put16 = [&](uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
    const auto put32 = [&](uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
    put32(engine::Sparse::kMagic);
    put16(1), put16(0), put16(engine::Sparse::kHeaderSize), put16(engine::Sparse::kChunkHeaderSize);
    put32(kBlock), put32(uint32_t(groups * 4 * kMiBBlocks)), put32(uint32_t(groups * 3)), put32(0);
    std::vector<uint32_t> data(2 * 1024 * 1024 / 4);
    uint32_t x = 12345;
    for (uint64_t g = 0; g < groups; ++g) {
        put16(engine::Sparse::kRaw), put16(0), put32(2 * kMiBBlocks);
        put32(engine::Sparse::kChunkHeaderSize + 2 * 1024 * 1024);
        for (auto& word : data) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            word = x;
        }
        out.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size() * 4));
        put16(engine::Sparse::kFill), put16(0), put32(kMiBBlocks), put32(engine::Sparse::kChunkHeaderSize + 4);
        put32(0x5a5a0000u + uint32_t(g));
        put16(engine::Sparse::kDontCare), put16(0), put32(kMiBBlocks), put32(engine::Sparse::kChunkHeaderSize);
    }
}

double processCpuSeconds(int who)
{
    rusage u{};
    getrusage(who, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// A device in a process of its own; it ends when the pipe to it closes.
struct DeviceProcess
{
    pid_t pid = -1;
    int port = 0;
    int keepAlive = -1;
};

DeviceProcess startDevice(const fbdevice::DeviceSettings& settings, const std::vector<DeviceProcess>& earlier)
{
    int portPipe[2];
    int lifePipe[2];
    if (::pipe(portPipe) != 0 || ::pipe(lifePipe) != 0)
        return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(portPipe[0]);
        ::close(lifePipe[1]);
        // The other devices' pipes must close when this process ends them.
        for (const DeviceProcess& d : earlier)
            ::close(d.keepAlive);
        fbdevice::DeviceModel model(settings);
        fbdevice::TcpDeviceServer server(model, 0);
        std::string why;
        int port = server.start(&why) ? server.port() : 0;
        if (::write(portPipe[1], &port, sizeof port) != sizeof port)
            ::_exit(1);
        char byte;
        while (::read(lifePipe[0], &byte, 1) > 0) {
        }
        server.stop();
        ::_exit(0);
    }
    ::close(portPipe[1]);
    ::close(lifePipe[0]);
    DeviceProcess device{pid, 0, lifePipe[1]};
    if (::read(portPipe[0], &device.port, sizeof device.port) != sizeof device.port)
        device.port = 0;
    ::close(portPipe[0]);
    return device;
}

} // namespace

int main(int argc, char** argv)
{
    const uint64_t imageMiB = argc > 1 ? std::strtoull(argv[1], nullptr, 10) / 4 * 4 : 128;
    const uint32_t maxMiB = argc > 2 ? uint32_t(std::strtoul(argv[2], nullptr, 10)) : 64;
    const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 2;
    const fs::path base = FlashBench::scratchBase();
    const fs::path root = FlashBench::makeRoot("bench-fastboot");
    fs::create_directories(root / "sparse");
    const std::string rawImage = (root / "package" / "system.img").string();
    const std::string sparseImage = (root / "sparse" / "system.img").string();
    FlashBench::writeImage(rawImage, imageMiB * 1024 * 1024);
    writeSparseImage(sparseImage, imageMiB * 1024 * 1024);

    // The devices first: fork() before this process has any thread.
    constexpr int kDevices = 8;
    std::vector<DeviceProcess> devices;
    std::string ports;
    for (int i = 0; i < kDevices; ++i) {
        fbdevice::DeviceSettings s;
        s.display = "ABC_V1.0";
        s.imei = "35693803564380" + std::to_string(i);
        s.maxDownload = maxMiB * 1024 * 1024;
        s.storageDir = (root / ("device-" + std::to_string(i + 1))).string();
        fs::create_directories(s.storageDir);
        devices.push_back(startDevice(s, devices));
        if (devices.back().port == 0) {
            std::fprintf(stderr, "cannot start device %d\n", i + 1);
            return 1;
        }
        ports += "PORT." + std::to_string(i + 1) + "=tcp:127.0.0.1:" + std::to_string(devices.back().port) + "\n";
    }
    const auto writeConfig = [&](const fs::path& package) {
        std::ofstream(root / "config.ini") << "[FASTBOOT_Engine]\nREBOOT=0\n" << ports
                                           << "[GET_DLL_Setting]\nITEM_VERSIONFILE_PATH=" << package.string() << "\n";
    };
    writeConfig(root / "package");

    fastboot::FastbootEngine engine(root.string());
    FlashBench::ResultSink sink;
    engine.RegisterSink(&sink);

    std::printf("image %llu MiB, device max-download-size %u MiB, files in %s, devices in processes of their own\n",
                static_cast<unsigned long long>(imageMiB), maxMiB, base.c_str());
    for (const bool sparse : {false, true}) {
        writeConfig(root / (sparse ? "sparse" : "package"));
        const std::string& image = sparse ? sparseImage : rawImage;
        for (const int count : {1, kDevices}) {
            std::vector<int> tcpPorts;
            for (int i = 0; i < count; ++i)
                tcpPorts.push_back(devices[size_t(i)].port);
            double engineTime = 0;
            double engineCpu = 0;
            const auto runEngine = [&] {
                emptyDevices(root, count);
                sink.clear();
                const double cpuBefore = processCpuSeconds(RUSAGE_SELF);
                const auto start = Clock::now();
                std::vector<std::thread> lines;
                for (int i = 0; i < count; ++i)
                    lines.emplace_back([&engine, i] { engine.Download(i, i + 1); });
                for (auto& t : lines)
                    t.join();
                engineTime = seconds(Clock::now() - start);
                engineCpu = processCpuSeconds(RUSAGE_SELF) - cpuBefore;
                for (int i = 0; i < count; ++i) {
                    if (sink.results[i] != 0)
                        std::printf("engine: line %d failed with %d: %s\n", i, sink.results[i],
                                    sink.messages[i].c_str());
                }
            };
            double commandTime = 0;
            double commandCpu = 0;
            bool commandOk = false;
            const auto runCommand = [&] {
                emptyDevices(root, count);
                const double cpuBefore = processCpuSeconds(RUSAGE_CHILDREN);
                const auto start = Clock::now();
                commandOk = runFastboot(tcpPorts, image);
                commandTime = seconds(Clock::now() - start);
                commandCpu = processCpuSeconds(RUSAGE_CHILDREN) - cpuBefore;
            };
            // Every other round the command goes first, so that neither side
            // always finds the page cache and tmpfs as the other left them.
            for (int round = 0; round < rounds; ++round) {
                if (round % 2 == 0) {
                    runEngine();
                    runCommand();
                } else {
                    runCommand();
                    runEngine();
                }
                const double gib = double(imageMiB) * count / 1024;
                std::printf("%s %d device%s: engine %.3f s, fastboot %.3f s%s, ratio %.2f; host CPU per GiB: engine "
                            "%.3f s, fastboot %.3f s\n",
                            sparse ? "sparse" : "raw   ", count, count == 1 ? " " : "s", engineTime, commandTime,
                            commandOk ? "" : " [fastboot FAILED]", engineTime / commandTime, engineCpu / gib,
                            commandCpu / gib);
                std::fflush(stdout);
            }
        }
    }
    for (DeviceProcess& d : devices) {
        ::close(d.keepAlive);
        int status = 0;
        ::waitpid(d.pid, &status, 0);
    }
    fs::remove_all(root);
    return 0;
}

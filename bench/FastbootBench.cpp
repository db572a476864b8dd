// Flashes a 256 MiB image to emulated devices through the fastboot engine and
// through Debian's fastboot command, same devices, same run, and prints both
// times and their ratio: once for one device, once for eight at a time.
//
//   bench_fastboot [image MiB, default 256] [max-download-size MiB, default 64]
//
// Files live in /dev/shm when it exists, so that the disk does not set the pace.

#include "FlashBench.h"

#include "DeviceModel.h"
#include "FastbootEngine.h"
#include "TcpDeviceServer.h"

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

double threadCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

double childrenCpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
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

} // namespace

int main(int argc, char** argv)
{
    const FlashBench::Arguments args(argc, argv);
    const uint64_t imageMiB = args.imageMiB;
    const uint32_t maxMiB = args.maxMiB;
    const fs::path base = FlashBench::scratchBase();
    const fs::path root = FlashBench::makeRoot("bench-fastboot");
    const std::string image = (root / "package" / "system.img").string();
    FlashBench::writeImage(image, imageMiB * 1024 * 1024);

    constexpr int kDevices = 8;
    std::vector<std::unique_ptr<fbdevice::DeviceModel>> models;
    std::vector<std::unique_ptr<fbdevice::TcpDeviceServer>> servers;
    std::string config = "[FASTBOOT_Engine]\nREBOOT=0\n";
    for (int i = 0; i < kDevices; ++i) {
        fbdevice::DeviceSettings s;
        s.display = "ABC_V1.0";
        s.imei = "35693803564380" + std::to_string(i);
        s.maxDownload = maxMiB * 1024 * 1024;
        s.storageDir = (root / ("device-" + std::to_string(i + 1))).string();
        models.push_back(std::make_unique<fbdevice::DeviceModel>(s));
        servers.push_back(std::make_unique<fbdevice::TcpDeviceServer>(*models.back(), 0));
        std::string why;
        if (!servers.back()->start(&why)) {
            std::fprintf(stderr, "cannot start device: %s\n", why.c_str());
            return 1;
        }
        config += "PORT." + std::to_string(i + 1) + "=tcp:127.0.0.1:" + std::to_string(servers.back()->port()) + "\n";
    }
    config += "[GET_DLL_Setting]\nITEM_VERSIONFILE_PATH=" + (root / "package").string() + "\n";
    std::ofstream(root / "config.ini") << config;

    fastboot::FastbootEngine engine(root.string());
    FlashBench::ResultSink sink;
    engine.RegisterSink(&sink);

    std::printf("image %llu MiB, device max-download-size %u MiB, files in %s\n",
                static_cast<unsigned long long>(imageMiB), maxMiB, base.c_str());
    for (const int count : {1, kDevices}) {
        emptyDevices(root, count);
        sink.clear();
        const auto engineStart = Clock::now();
        std::vector<std::thread> lines;
        std::vector<double> cpu(size_t(count), 0.0);
        for (int i = 0; i < count; ++i)
            lines.emplace_back([&engine, &cpu, i] {
                const double before = threadCpuSeconds();
                engine.Download(i, i + 1);
                cpu[size_t(i)] = threadCpuSeconds() - before;
            });
        for (auto& t : lines)
            t.join();
        const double engineTime = seconds(Clock::now() - engineStart);
        double engineCpu = 0;
        for (const double c : cpu)
            engineCpu += c;
        for (int i = 0; i < count; ++i) {
            if (sink.results[i] != 0)
                std::printf("engine: line %d failed with %d\n", i, sink.results[i]);
        }

        std::vector<int> ports;
        for (int i = 0; i < count; ++i)
            ports.push_back(servers[size_t(i)]->port());
        emptyDevices(root, count);
        const double childrenBefore = childrenCpuSeconds();
        const auto commandStart = Clock::now();
        const bool commandOk = runFastboot(ports, image);
        const double commandTime = seconds(Clock::now() - commandStart);
        const double commandCpu = childrenCpuSeconds() - childrenBefore;

        const double mib = double(imageMiB) * count;
        std::printf("%d device%s: engine %.2f s (%.0f MiB/s), fastboot %.2f s (%.0f MiB/s)%s, ratio engine/fastboot %.2f\n",
                    count, count == 1 ? " " : "s", engineTime, mib / engineTime, commandTime, mib / commandTime,
                    commandOk ? "" : " [fastboot FAILED]", engineTime / commandTime);
        // Host-side CPU only: the emulated devices run in this process for both.
        std::printf("           host CPU per GiB: engine %.2f s, fastboot %.2f s\n", engineCpu * 1024 / mib,
                    commandCpu * 1024 / mib);
    }
    servers.clear();
    fs::remove_all(root);
    return 0;
}

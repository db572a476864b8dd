// What the window thread pays for the fastboot engine's presence: one
// QueryDevice, and a whole scan of eight lines, with eight configured ports:
// five good emulated devices, one that accepts connections and never
// answers, one that answers garbage, and one host name that never resolves.
// Prints the median and the 99th percentile of each.
//
//   bench_presence [Google Benchmark options]

#include "DeviceModel.h"
#include "FastbootEngine.h"
#include "SocketIo.h"
#include "TcpDeviceServer.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// Answers every connection with bytes that are no fastboot, then hangs up.
class GarbageServer final
{
public:
    GarbageServer()
    {
        std::string why;
        m_fd = fastboot::SocketIo::listenLoopback(0, &why);
        m_thread = std::thread([this] {
            while (!m_stop) {
                pollfd p{m_fd, POLLIN, 0};
                if (::poll(&p, 1, 100) <= 0)
                    continue;
                const int c = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
                if (c < 0)
                    continue;
                const char junk[] = "HTTP/1.1 400 Bad Request\r\n\r\n";
                [[maybe_unused]] const ssize_t n = ::send(c, junk, sizeof junk - 1, MSG_NOSIGNAL);
                ::close(c);
            }
        });
    }
    ~GarbageServer()
    {
        m_stop = true;
        m_thread.join();
        ::close(m_fd);
    }
    int port() const { return fastboot::SocketIo::localPort(m_fd); }

private:
    int m_fd = -1;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

struct Station
{
    fs::path dir;
    std::vector<std::unique_ptr<fbdevice::DeviceModel>> models;
    std::vector<std::unique_ptr<fbdevice::TcpDeviceServer>> servers;
    int silentFd = -1; // listens, is never accepted from: connects, never answers
    GarbageServer garbage;
    std::unique_ptr<fastboot::FastbootEngine> engine;

    Station()
    {
        char name[] = "/tmp/bench-presence-XXXXXX";
        dir = ::mkdtemp(name);
        std::string why;
        silentFd = fastboot::SocketIo::listenLoopback(0, &why);
        std::ofstream config(dir / "config.ini");
        config << "[FASTBOOT_Engine]\n";
        for (int i = 1; i <= 5; ++i) {
            fbdevice::DeviceSettings s;
            s.display = "ABC_V1.0";
            s.internal = "ABC_INT_V1.0";
            s.imei = "35693803564380" + std::to_string(i);
            s.storageDir = (dir / ("device-" + std::to_string(i))).string();
            models.push_back(std::make_unique<fbdevice::DeviceModel>(s));
            servers.push_back(std::make_unique<fbdevice::TcpDeviceServer>(*models.back(), 0));
            servers.back()->start(&why);
            config << "PORT." << i << "=tcp:127.0.0.1:" << servers.back()->port() << "\n";
        }
        config << "PORT.6=tcp:127.0.0.1:" << fastboot::SocketIo::localPort(silentFd) << "\n";
        config << "PORT.7=tcp:127.0.0.1:" << garbage.port() << "\n";
        config << "PORT.8=tcp:never-resolves.invalid:5554\n";
        config.close();
        engine = std::make_unique<fastboot::FastbootEngine>(dir.string());
        // The monitor's first round: the good devices are known.
        const auto deadline = Clock::now() + std::chrono::seconds(30);
        while (Clock::now() < deadline && !allReady())
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (!allReady())
            std::fprintf(stderr, "bench_presence: the devices did not come up\n");
    }
    ~Station()
    {
        engine.reset();
        servers.clear();
        ::close(silentFd);
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    bool allReady()
    {
        EngineText info{};
        for (int port = 1; port <= 5; ++port) {
            if (engine->QueryDevice(0, port, &info) != 0)
                return false;
        }
        return true;
    }
};

Station& station()
{
    static Station s;
    return s;
}

void report(benchmark::State& state, std::vector<double>& micros)
{
    if (micros.empty())
        return;
    std::sort(micros.begin(), micros.end());
    state.counters["p50_us"] = micros[micros.size() / 2];
    state.counters["p99_us"] = micros[std::min(micros.size() - 1, micros.size() * 99 / 100)];
    state.counters["max_us"] = micros.back();
}

void BM_QueryDevice(benchmark::State& state)
{
    fastboot::FastbootEngine& engine = *station().engine;
    std::vector<double> micros;
    int port = 0;
    for (auto _ : state) {
        EngineText info{};
        const auto start = Clock::now();
        benchmark::DoNotOptimize(engine.QueryDevice(0, port % 8 + 1, &info));
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        ++port;
    }
    report(state, micros);
}
BENCHMARK(BM_QueryDevice)->Iterations(200000);

void BM_ScanOfEightLines(benchmark::State& state)
{
    fastboot::FastbootEngine& engine = *station().engine;
    std::vector<double> micros;
    for (auto _ : state) {
        const auto start = Clock::now();
        for (int port = 1; port <= 8; ++port) {
            EngineText info{};
            benchmark::DoNotOptimize(engine.QueryDevice(port - 1, port, &info));
        }
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    report(state, micros);
}
BENCHMARK(BM_ScanOfEightLines)->Iterations(50000);

} // namespace

BENCHMARK_MAIN();

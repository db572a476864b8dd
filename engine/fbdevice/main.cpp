// fbdevice: emulated fastboot devices on loopback TCP ports, for tests,
// benchmarks and demonstrations of the fastboot engine.
//
//   fbdevice <config.ini>
//
// Prints one line "<n> tcp:127.0.0.1:<port>" per device, then "ready", and
// serves until it gets SIGINT or SIGTERM.

#include "DeviceConfig.h"
#include "TcpDeviceServer.h"

#include <csignal>
#include <cstdio>
#include <memory>
#include <vector>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: fbdevice <config.ini>\n");
        return 2;
    }
    fbdevice::DeviceConfig config;
    std::string why;
    if (!fbdevice::DeviceConfig::load(argv[1], &config, &why)) {
        std::fprintf(stderr, "fbdevice: %s\n", why.c_str());
        return 1;
    }
    // Block the signals before any thread starts, then wait for them here.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    std::vector<std::unique_ptr<fbdevice::DeviceModel>> models;
    std::vector<std::unique_ptr<fbdevice::TcpDeviceServer>> servers;
    for (size_t i = 0; i < config.devices.size(); ++i) {
        models.push_back(std::make_unique<fbdevice::DeviceModel>(config.devices[i].settings));
        servers.push_back(std::make_unique<fbdevice::TcpDeviceServer>(*models.back(), config.devices[i].port));
        if (!servers.back()->start(&why)) {
            std::fprintf(stderr, "fbdevice: device %zu, port %d: %s\n", i + 1, config.devices[i].port, why.c_str());
            return 1;
        }
        std::printf("%zu tcp:127.0.0.1:%d\n", i + 1, servers.back()->port());
    }
    std::printf("ready\n");
    std::fflush(stdout);
    int signal = 0;
    sigwait(&signals, &signal);
    servers.clear();
    return 0;
}

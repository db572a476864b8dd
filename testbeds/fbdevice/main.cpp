// fbdevice: emulated fastboot devices on loopback TCP ports, for tests,
// benchmarks and demonstrations of the fastboot engine.
//
//   fbdevice <config.ini> [--control <fifo>]
//
// Prints one line "<n> tcp:127.0.0.1:<port>" per device, then "ready", and
// serves until it gets SIGINT or SIGTERM. The named pipe beside the config
// (<config>.ctl, or the one --control names) takes "pull <n>", "plug <n>" and
// "bootloader <n>" (see ControlFifo).

#include "ControlFifo.h"
#include "DeviceConfig.h"
#include "TcpDeviceServer.h"

#include <csignal>
#include <filesystem>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    const bool control = argc == 4 && std::string(argv[2]) == "--control";
    if (argc != 2 && !control) {
        std::fprintf(stderr, "usage: fbdevice <config.ini> [--control <fifo>]\n");
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
    // A pulled device's port stays its own: put back, it is served there again.
    std::mutex handsMutex;
    auto hands = std::make_unique<fbdevice::ControlFifo>([&](const std::string& verb, int n) -> std::string {
        if (n < 1 || size_t(n) > servers.size())
            return "no device " + std::to_string(n);
        std::lock_guard lock(handsMutex);
        auto& server = servers[size_t(n - 1)];
        std::string error;
        if (verb == "pull") {
            server->stop();
        } else if (verb == "plug") {
            const int port = server->port();
            server.reset();
            server = std::make_unique<fbdevice::TcpDeviceServer>(*models[size_t(n - 1)], port);
            if (!server->start(&error))
                return "device " + std::to_string(n) + ": " + error;
        } else {
            models[size_t(n - 1)]->bootToBootloader();
        }
        return "device " + std::to_string(n) + ": " + verb;
    });
    const std::string pipe =
        control ? std::string(argv[3]) : std::filesystem::path(argv[1]).replace_extension(".ctl").string();
    if (!hands->start(pipe, &why))
        std::fprintf(stderr, "fbdevice: no hands on the devices: %s\n", why.c_str());
    std::printf("ready\n");
    std::fflush(stdout);
    int signal = 0;
    sigwait(&signals, &signal);
    hands.reset(); // no command after this
    servers.clear();
    return 0;
}

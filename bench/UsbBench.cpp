// Flashes a 256 MiB image to one emulated fastboot device through the
// fastboot engine, once over USB (umockdev: sysfs, udev and usbfs of this
// process emulated, bulk URBs answered in process) and once over loopback
// TCP, the same device model code, same run. Prints MiB/s and the process's CPU
// seconds per GiB; the CPU time includes the emulated device's side.
//
//   bench_usb [image MiB, default 256] [max-download-size MiB, default 64]

#include "ModelPacketDevice.h"
#include "UsbTestbed.h"

#include "DeviceModel.h"
#include "FastbootEngine.h"
#include "TcpDeviceServer.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

class ResultSink final : public EngineEventSink
{
public:
    int32_t Reserved0() override { return 0; }
    void Reserved1() override {}
    EngineEventSink* Reserved2(int32_t, int32_t) override { return this; }
    void Reserved3(int32_t, int32_t, int32_t) override {}
    void Reserved4(int32_t, int32_t) override {}
    int32_t Reserved5(int32_t, int32_t, int32_t, int32_t) override { return 1; }
    int32_t Reserved6(int32_t, int32_t) override { return 1; }
    int32_t Reserved7(int32_t, int32_t, int32_t, int32_t) override { return 1; }
    int32_t Reserved8(int32_t, int32_t) override { return 1; }
    int32_t Reserved9(int32_t, int32_t) override { return 1; }
    int32_t Reserved10(int32_t, int32_t) override { return 1; }
    int32_t Reserved11(int32_t, int32_t, int32_t) override { return 1; }
    int32_t Reserved12(int32_t) override { return 1; }
    int32_t Reserved13(int32_t, int32_t, int32_t) override { return 1; }
    int32_t Reserved14(int32_t) override { return 1; }
    void Reserved15(int32_t) override {}
    void Reserved16(int32_t, int32_t) override {}
    void Reserved17(int32_t) override {}
    void OnEvent(EngineEvent* event) override
    {
        if (event->type == ENGINE_EVENT_RESULT)
            result = *static_cast<int32_t*>(event->data);
        if (event->type == ENGINE_EVENT_MESSAGE)
            message = static_cast<const char*>(event->data);
    }
    int32_t result = -1;
    std::string message;
};

void writeImage(const std::string& path, uint64_t bytes)
{
    std::ofstream out(path, std::ios::binary);
    std::vector<uint32_t> block(1024 * 1024 / 4);
    uint32_t x = 12345;
    for (uint64_t done = 0; done < bytes; done += block.size() * 4) {
        for (auto& word : block) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            word = x;
        }
        out.write(reinterpret_cast<const char*>(block.data()), std::streamsize(block.size() * 4));
    }
}

double cpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void report(const char* name, double mib, Clock::duration wall, double cpu, int32_t result)
{
    const double s = std::chrono::duration<double>(wall).count();
    std::printf("%-4s %.2f s, %.0f MiB/s, %.2f CPU s per GiB%s\n", name, s, mib / s, cpu / (mib / 1024.0),
                result == 0 ? "" : " [FAILED]");
}

} // namespace

int main(int argc, char** argv)
{
    std::string why;
    if (!UsbTestbed::available(&why)) {
        std::fprintf(stderr, "bench_usb: %s\n", why.c_str());
        return 1;
    }
    const uint64_t imageMiB = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 256;
    const uint32_t maxMiB = argc > 2 ? uint32_t(std::strtoul(argv[2], nullptr, 10)) : 64;
    const fs::path base = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    const fs::path root = base / ("bench-usb-" + std::to_string(::getpid()));
    fs::create_directories(root / "package");
    writeImage((root / "package" / "system.img").string(), imageMiB * 1024 * 1024);

    fbdevice::DeviceSettings s;
    s.display = "ABC_V1.0";
    s.imei = "356938035643801";
    s.maxDownload = maxMiB * 1024 * 1024;
    s.storageDir = (root / "device").string();
    // One model per transport: the engine's presence probes of the TCP
    // device begin and end host sessions on its model.
    fbdevice::DeviceModel model(s);
    fbdevice::DeviceModel tcpModel(s);
    fbdevice::TcpDeviceServer server(tcpModel, 0);
    if (!server.start(&why)) {
        std::fprintf(stderr, "cannot start the TCP device: %s\n", why.c_str());
        return 1;
    }
    {
        UsbTestbed bed;
        bed.plugModel("1-1.1", model);
        std::ofstream(root / "config.ini") << "[FASTBOOT_Engine]\nREBOOT=0\nLEARN_PORTS=0\nPORT.1=usb:1-1.1\n"
                                           << "PORT.2=tcp:127.0.0.1:" << server.port() << "\n"
                                           << "[GET_DLL_Setting]\nITEM_VERSIONFILE_PATH=" << (root / "package").string()
                                           << "\n";
        fastboot::FastbootEngine engine(root.string());
        ResultSink sink;
        engine.RegisterSink(&sink);
        std::printf("image %llu MiB, max-download-size %u MiB, files in %s\n",
                    static_cast<unsigned long long>(imageMiB), maxMiB, base.c_str());
        for (const int port : {1, 2}) {
            fs::remove_all(root / "device");
            fs::create_directories(root / "device");
            sink.result = -1;
            const double cpu = cpuSeconds();
            const auto start = Clock::now();
            engine.Download(0, port);
            report(port == 1 ? "USB" : "TCP", double(imageMiB), Clock::now() - start, cpuSeconds() - cpu,
                   sink.result);
            if (sink.result != 0)
                std::printf("     %s\n", sink.message.c_str());
        }
    }
    server.stop();
    fs::remove_all(root);
    return 0;
}

// Flashes a 256 MiB image to one emulated fastboot device through the
// fastboot engine, once over USB (umockdev: sysfs, udev and usbfs of this
// process emulated, bulk URBs answered in process) and once over loopback
// TCP, the same device model code, same run. Prints MiB/s and the process's CPU
// seconds per GiB; the CPU time includes the emulated device's side.
//
//   bench_usb [image MiB, default 256] [max-download-size MiB, default 64]

#include "FlashBench.h"
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
    const FlashBench::Arguments args(argc, argv);
    const uint64_t imageMiB = args.imageMiB;
    const uint32_t maxMiB = args.maxMiB;
    const fs::path base = FlashBench::scratchBase();
    const fs::path root = FlashBench::makeRoot("bench-usb");
    FlashBench::writeImage((root / "package" / "system.img").string(), imageMiB * 1024 * 1024);

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
        FlashBench::ResultSink sink;
        engine.RegisterSink(&sink);
        std::printf("image %llu MiB, max-download-size %u MiB, files in %s\n",
                    static_cast<unsigned long long>(imageMiB), maxMiB, base.c_str());
        for (const int port : {1, 2}) {
            fs::remove_all(root / "device");
            fs::create_directories(root / "device");
            sink.clear();
            const double cpu = cpuSeconds();
            const auto start = Clock::now();
            engine.Download(0, port);
            report(port == 1 ? "USB" : "TCP", double(imageMiB), Clock::now() - start, cpuSeconds() - cpu,
                   sink.results[0]);
            if (sink.results[0] != 0)
                std::printf("     %s\n", sink.messages[0].c_str());
        }
    }
    server.stop();
    fs::remove_all(root);
    return 0;
}

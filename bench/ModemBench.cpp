// Writes a package of one large image into an emulated module through the
// modem protocol core (Sahara, then Firehose), in process, and prints the
// time, MiB/s and CPU seconds per GiB. Host and emulated module share the
// process, so the CPU figure holds both sides; the storage files live in
// /dev/shm when it exists, so that the disk does not set the pace.
//
//   bench_modem [image MiB, default 256] [payload KiB, default 1024] [runs, default 3]

#include "ModelLink.h"
#include "ModemFlash.h"
#include "ModuleModel.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

double cpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

void writeFile(const fs::path& path, uint64_t size, uint32_t seed)
{
    std::ofstream out(path, std::ios::binary);
    std::string block(1024 * 1024, '\0');
    for (uint64_t done = 0; done < size; done += block.size()) {
        for (char& c : block) {
            seed = seed * 1664525u + 1013904223u;
            c = char(seed >> 24);
        }
        out.write(block.data(), std::streamsize(std::min<uint64_t>(block.size(), size - done)));
    }
}

} // namespace

int main(int argc, char** argv)
{
    const uint64_t imageMiB = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 256;
    const uint64_t payloadKiB = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1024;
    const int runs = argc > 3 ? std::atoi(argv[3]) : 3;
    const fs::path root = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    const fs::path work = root / ("bench_modem." + std::to_string(::getpid()));
    const fs::path package = work / "package";
    const fs::path storage = work / "storage";
    fs::create_directories(package);
    fs::create_directories(storage);

    const std::string programmer(512 * 1024, 'p');
    std::ofstream(package / "prog_firehose.elf", std::ios::binary) << programmer;
    writeFile(package / "system.img", imageMiB * 1024 * 1024, 1);
    std::ofstream(package / "rawprogram0.xml")
        << "<data><program SECTOR_SIZE_IN_BYTES=\"4096\" filename=\"system.img\" label=\"system\" "
           "physical_partition_number=\"0\" start_sector=\"256\"/></data>";

    modem::FlashPackage plan;
    std::string why;
    if (!modem::FlashPackage::load(package.string(), {}, &plan, &why)) {
        std::fprintf(stderr, "package: %s\n", why.c_str());
        return 1;
    }
    std::printf("%llu MiB image, payload %llu KiB, storage in %s\n", static_cast<unsigned long long>(imageMiB),
                static_cast<unsigned long long>(payloadKiB), root.c_str());
    int status = 0;
    for (int run = 1; run <= runs; ++run) {
        fs::remove(storage / "lun0.img");
        modemdevice::ModuleSettings settings;
        settings.startInDownload = true;
        settings.programmer = programmer;
        settings.storageDir = storage.string();
        settings.maxPayload = payloadKiB * 1024;
        settings.diskSectors = (imageMiB + 16) * 1024 * 1024 / 512;
        modemdevice::ModuleModel model(settings);
        modemdevice::ModelLink link(model);
        modem::ModemFlash::Settings options;
        options.maxPayload = payloadKiB * 1024;
        modem::ModemFlash job(link, plan, options, {}, {});

        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = cpuSeconds();
        const bool ok = job.run();
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const double cpu = cpuSeconds() - cpuStart;
        const double gib = double(plan.totalBytes()) / (1024.0 * 1024 * 1024);
        std::printf("run %d: %s %.3f s, %.0f MiB/s, %.2f CPU s/GiB (host and module)\n", run,
                    ok ? "written in" : "FAILED after", seconds, double(plan.totalBytes()) / 1048576.0 / seconds,
                    cpu / gib);
        if (!ok) {
            std::printf("  %s\n", job.failure().text.c_str());
            status = 1;
        }
    }
    fs::remove_all(work);
    return status;
}

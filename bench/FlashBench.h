#pragma once

// What the engine benchmarks share: their arguments, a scratch folder, a
// random image and a sink that keeps each line's result.

#include "FlashEngine.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace FlashBench {

// [image MiB, default 256] [max-download-size MiB, default 64]
struct Arguments
{
    uint64_t imageMiB = 256;
    uint32_t maxMiB = 64;

    Arguments(int argc, char** argv)
    {
        if (argc > 1)
            imageMiB = std::strtoull(argv[1], nullptr, 10);
        if (argc > 2)
            maxMiB = uint32_t(std::strtoul(argv[2], nullptr, 10));
    }
};

// /dev/shm when it exists, so that the disk does not set the pace.
inline std::filesystem::path scratchBase()
{
    return std::filesystem::exists("/dev/shm") ? std::filesystem::path("/dev/shm")
                                                : std::filesystem::temp_directory_path();
}

// A folder of this run's own below scratchBase(), with an empty "package/".
inline std::filesystem::path makeRoot(const std::string& name)
{
    const auto root = scratchBase() / (name + "-" + std::to_string(::getpid()));
    std::filesystem::create_directories(root / "package");
    return root;
}

// Bytes no compression or sparse scan can shorten.
inline void writeImage(const std::string& path, uint64_t bytes)
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

// Keeps each line's result (-1 until one comes) and last message; nothing
// else is looked at.
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
        if (event->line < 0 || event->line >= 8)
            return;
        if (event->type == ENGINE_EVENT_RESULT)
            results[event->line] = *static_cast<int32_t*>(event->data);
        if (event->type == ENGINE_EVENT_MESSAGE)
            messages[event->line] = static_cast<const char*>(event->data);
    }
    void clear()
    {
        for (int i = 0; i < 8; ++i) {
            results[i] = -1;
            messages[i].clear();
        }
    }

    int32_t results[8] = {-1, -1, -1, -1, -1, -1, -1, -1};
    std::string messages[8];
};

} // namespace FlashBench

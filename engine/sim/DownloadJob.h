#pragma once

#include "DeviceFile.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sim {

// One download onto one simulated device: erases its storage, writes every
// regular file of the version directory in paced chunks, verifies the copies
// by checksum and gives the device the package's versions. Progress (by
// bytes), status texts and the one result are reported through the callbacks,
// on the calling thread.
class DownloadJob final
{
public:
    enum Result : int32_t {
        Success = 0,
        NoDevice = 1,      // no device file, or it went away: unplugged
        NotReady = 2,      // device in ARM mode
        NoPackage = 3,     // version directory missing, empty or without versions
        DeviceFailed = 4,  // the device gave up (FailAt, ResultCode)
        WriteFailed = 5,   // the storage could not be written
        VerifyFailed = 6,  // a copy differs from the package
    };

    struct Events {
        std::function<void(int32_t percent)> progress;
        std::function<void(const std::string& text)> message;
    };

    // Used when the device names no speed: fast, so that tests stay fast.
    static constexpr int64_t kDefaultSpeed = 64LL * 1024 * 1024;
    static constexpr size_t kChunk = 64 * 1024;

    DownloadJob(std::string busDir, std::string versionDir, int port, Events events);

    // Runs the whole download; the returned code is the line's result.
    int32_t run();

private:
    struct Source {
        std::string name;
        std::string path;
        uint64_t size = 0;
    };

    int32_t fail(int32_t code, const std::string& text);
    bool listPackage(std::vector<Source>* files, uint64_t* total, std::string* why) const;
    bool erase(std::string* why) const;
    int32_t writeFile(const Source& file, const DeviceFile::State& device);
    int32_t verify(const std::vector<Source>& files);
    int32_t finish(const std::string& display, const std::string& internal);
    void reportProgress(int32_t percent);

    std::string m_versionDir;
    int m_port;
    DeviceFile m_device;
    Events m_events;
    uint64_t m_total = 0;
    uint64_t m_written = 0;
    uint64_t m_failBytes = UINT64_MAX; // where the device gives up (FailAt)
    int32_t m_lastPercent = -1;
    std::chrono::steady_clock::time_point m_started;
};

} // namespace sim

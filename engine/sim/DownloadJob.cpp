#include "DownloadJob.h"

#include "core/VersionScan.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

namespace fs = std::filesystem;

namespace sim {

namespace {

// 64-bit FNV-1a over a whole file, read in chunks; false when unreadable.
bool digestOf(const std::string& path, uint64_t* digest)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    uint64_t h = 14695981039346656037ULL;
    std::vector<char> buffer(DownloadJob::kChunk);
    while (in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        const auto got = static_cast<size_t>(in.gcount());
        for (size_t i = 0; i < got; ++i) {
            h ^= static_cast<unsigned char>(buffer[i]);
            h *= 1099511628211ULL;
        }
    }
    if (in.bad())
        return false;
    *digest = h;
    return true;
}

} // namespace

DownloadJob::DownloadJob(std::string busDir, std::string versionDir, int port, Events events)
    : m_versionDir(std::move(versionDir))
    , m_port(port)
    , m_device(std::move(busDir), port)
    , m_events(std::move(events))
{
}

int32_t DownloadJob::run()
{
    const auto device = m_device.read();
    if (!device)
        return fail(NoDevice, "No device on port " + std::to_string(m_port));
    if (device->arm)
        return fail(NotReady, "Device on port " + std::to_string(m_port) + " is in ARM mode");

    std::vector<Source> files;
    std::string why;
    if (!listPackage(&files, &m_total, &why))
        return fail(NoPackage, why);
    // The versions are read by the tool's own rules, so that the device ends
    // up with exactly the texts the tool compares against.
    const VersionScan::Result versions = VersionScan().scan((fs::path(m_versionDir) / "system.img").string());
    if (versions.outcome != VersionScan::Outcome::Complete || !versions.displayFound || !versions.internalFound)
        return fail(NoPackage, "No version found in system.img of " + m_versionDir);
    const std::string& display = versions.displayVersion;
    const std::string& internal = versions.internalVersion;

    reportProgress(0);
    m_events.message("Erasing");
    if (!erase(&why))
        return fail(WriteFailed, why);

    if (device->failAt >= 0 && m_total > 0)
        m_failBytes = (m_total * uint64_t(std::min(device->failAt, 100)) + 99) / 100;
    m_started = std::chrono::steady_clock::now();
    for (const Source& file : files) {
        m_events.message("Writing " + file.name);
        if (const int32_t code = writeFile(file, *device); code != Success)
            return code;
    }
    if (m_total == 0)
        reportProgress(100);

    m_events.message("Verifying");
    if (const int32_t code = verify(files); code != Success)
        return code;
    if (device->resultCode != 0)
        return fail(device->resultCode, "Device reported error " + std::to_string(device->resultCode));
    return finish(display, internal);
}

int32_t DownloadJob::fail(int32_t code, const std::string& text)
{
    m_events.message(text);
    return code;
}

bool DownloadJob::listPackage(std::vector<Source>* files, uint64_t* total, std::string* why) const
{
    std::error_code ec;
    if (m_versionDir.empty() || !fs::is_directory(m_versionDir, ec)) {
        *why = "Version directory not found: " + m_versionDir;
        return false;
    }
    *total = 0;
    for (const auto& entry : fs::directory_iterator(m_versionDir, ec)) {
        if (!entry.is_regular_file(ec))
            continue;
        Source s{entry.path().filename().string(), entry.path().string(), entry.file_size(ec)};
        if (ec) {
            *why = "Cannot read " + s.path + ": " + ec.message();
            return false;
        }
        *total += s.size;
        files->push_back(std::move(s));
    }
    if (ec) {
        *why = "Cannot read " + m_versionDir + ": " + ec.message();
        return false;
    }
    std::sort(files->begin(), files->end(), [](const Source& a, const Source& b) { return a.name < b.name; });
    return true;
}

bool DownloadJob::erase(std::string* why) const
{
    std::error_code ec;
    const fs::path data = m_device.dataDir();
    fs::remove_all(data, ec);
    if (!ec)
        fs::create_directories(data, ec);
    if (ec)
        *why = "Cannot erase " + data.string() + ": " + ec.message();
    return !ec;
}

int32_t DownloadJob::writeFile(const Source& file, const DeviceFile::State& device)
{
    std::ifstream in(file.path, std::ios::binary);
    const std::string target = (fs::path(m_device.dataDir()) / file.name).string();
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    if (!in)
        return fail(WriteFailed, "Cannot read " + file.path);
    if (!out)
        return fail(WriteFailed, "Cannot write " + target);
    const int64_t speed = device.speed > 0 ? device.speed : kDefaultSpeed;
    std::vector<char> buffer(kChunk);
    for (uint64_t left = file.size;;) {
        if (m_written >= m_failBytes) {
            const int32_t code = device.resultCode != 0 ? device.resultCode : int32_t(DeviceFailed);
            return fail(code, "Device failed at " + std::to_string(m_written * 100 / m_total) + "%");
        }
        if (left == 0)
            break;
        // Chunks end where the device gives up, so that it does so at its percentage.
        const uint64_t want = std::min({left, uint64_t(buffer.size()), m_failBytes - m_written});
        in.read(buffer.data(), static_cast<std::streamsize>(want));
        const auto got = static_cast<size_t>(in.gcount());
        if (got == 0)
            return fail(WriteFailed, "Cannot read " + file.path);
        if (!out.write(buffer.data(), static_cast<std::streamsize>(got)))
            return fail(WriteFailed, "Cannot write " + target);
        left -= got;
        m_written += got;
        reportProgress(static_cast<int32_t>(m_written * 100 / m_total));
        if (!m_device.exists())
            return fail(NoDevice, "Device unplugged from port " + std::to_string(m_port));
        // Pace the bus: the bytes so far may not have taken less than speed allows.
        std::this_thread::sleep_until(m_started + std::chrono::microseconds(
                                          static_cast<int64_t>(m_written * 1000000 / uint64_t(speed))));
    }
    out.close();
    if (!out)
        return fail(WriteFailed, "Cannot write " + target);
    return Success;
}

int32_t DownloadJob::verify(const std::vector<Source>& files)
{
    for (const Source& file : files) {
        uint64_t want = 0;
        uint64_t have = 0;
        const std::string copy = (fs::path(m_device.dataDir()) / file.name).string();
        if (!digestOf(file.path, &want) || !digestOf(copy, &have) || want != have)
            return fail(VerifyFailed, "Verification failed: " + file.name);
    }
    return Success;
}

int32_t DownloadJob::finish(const std::string& display, const std::string& internal)
{
    // Read again: the device may have changed (or gone) while it was written.
    auto device = m_device.read();
    if (!device)
        return fail(NoDevice, "Device unplugged from port " + std::to_string(m_port));
    device->display = display;
    device->internal = internal;
    std::string why;
    if (!m_device.write(*device, &why))
        return fail(WriteFailed, "Cannot update device: " + why);
    reportProgress(100);
    m_events.message("Download complete");
    return Success;
}

void DownloadJob::reportProgress(int32_t percent)
{
    if (percent == m_lastPercent)
        return;
    m_lastPercent = percent;
    m_events.progress(percent);
}

} // namespace sim

#include "SimEngine.h"

#include "DeviceFile.h"
#include "DownloadJob.h"

#include "core/StationLines.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <filesystem>

namespace sim {

SimEngine::SimEngine(std::string stationDir)
    : m_config(std::move(stationDir))
    , m_busDir(m_config.busDir())
    , m_watcher(m_busDir, [this] {
        int32_t offer = 1;
        raise(ENGINE_EVENT_DEVICE, 0, &offer);
    })
{
    m_watcher.start();
}

SimEngine::~SimEngine()
{
    m_watcher.stop();
}

int32_t SimEngine::Setup(int32_t mode)
{
    std::lock_guard lock(m_mutex);
    m_mode = mode;
    return 0;
}

int32_t SimEngine::QueryDevice(int32_t, int32_t port, EngineText* info)
{
    try {
        if (info)
            info->text[0] = '\0';
        if (port <= 0)
            return -1;
        const auto device = DeviceFile(m_busDir, port).read();
        if (!device)
            return -1;
        if (device->arm)
            return 1;
        if (info) {
            std::snprintf(info->text, sizeof info->text, "%s,%s,%s", device->display.c_str(),
                          device->internal.c_str(), device->imei.c_str());
        }
        return 0;
    } catch (const std::exception&) {
        return -1;
    }
}

int32_t SimEngine::EnumeratePorts(int32_t* ports, int32_t* count)
{
    if (!ports || !count || *count < 0)
        return -1;
    try {
        const std::vector<int> found = DeviceFile::ports(m_busDir);
        const auto n = static_cast<int32_t>(std::min<size_t>(found.size(), size_t(*count)));
        std::copy_n(found.begin(), n, ports);
        *count = n;
        return 0;
    } catch (const std::exception&) {
        *count = 0;
        return -1;
    }
}

int32_t SimEngine::Download(int32_t line, int32_t port)
{
    if (line < 0 || line >= kLines)
        return -1;
    int32_t result = DownloadJob::WriteFailed;
    try {
        DownloadJob::Events events;
        events.progress = [&](int32_t percent) { raise(ENGINE_EVENT_PROGRESS, line, &percent); };
        events.message = [&](const std::string& text) {
            raise(ENGINE_EVENT_MESSAGE, line, const_cast<char*>(text.c_str()));
        };
        // Settings are taken afresh for every download.
        DownloadJob job(m_busDir, m_config.versionDir(), port, std::move(events));
        result = job.run();
    } catch (const std::exception& e) {
        std::string text = std::string("Download failed: ") + e.what();
        raise(ENGINE_EVENT_MESSAGE, line, text.data());
    }
    raise(ENGINE_EVENT_RESULT, line, &result);
    return result;
}

int32_t SimEngine::ReloadSettings()
{
    // Every download reads the settings anew; this only tells whether the
    // version directory is usable now.
    try {
        std::error_code ec;
        return std::filesystem::is_directory(m_config.versionDir(), ec) ? 0 : -1;
    } catch (const std::exception&) {
        return -1;
    }
}

void SimEngine::raise(int32_t type, int32_t line, void* data)
{
    m_sink->raise(type, line, data);
}

} // namespace sim

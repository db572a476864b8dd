#pragma once

#include "BusWatcher.h"
#include "EngineBase.h"
#include "FlashEngine.h"
#include "SimConfig.h"

#include <mutex>
#include <string>

namespace sim {

// The stand-in download engine: devices are files on a simulated bus folder
// (see DeviceFile), downloads copy the version directory into the device's
// storage folder. Events are raised on the thread that caused them: device
// changes on the watcher's thread, everything of a download on the thread
// that called Download.
class SimEngine final : public engine::EngineBase
{
public:
    explicit SimEngine(std::string stationDir);
    ~SimEngine();
    SimEngine(const SimEngine&) = delete;
    SimEngine& operator=(const SimEngine&) = delete;

    int32_t Setup(int32_t mode) override;
    int32_t QueryDevice(int32_t line, int32_t port, EngineText* info) override;
    int32_t EnumeratePorts(int32_t* ports, int32_t* count) override;
    int32_t Download(int32_t line, int32_t port) override;
    int32_t ReloadSettings() override;

    const std::string& busDir() const { return m_busDir; }

private:
    // Never called with m_mutex held: the tool calls the engine back from
    // its window thread while the raising thread waits.
    void raise(int32_t type, int32_t line, void* data);

    SimConfig m_config;
    const std::string m_busDir;
    std::mutex m_mutex;
    int32_t m_mode = 0;                // guarded by m_mutex
    BusWatcher m_watcher;
};

} // namespace sim

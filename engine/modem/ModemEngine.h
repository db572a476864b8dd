#pragma once

#include "EngineBase.h"
#include "FlashEngine.h"
#include "ModemLinks.h"
#include "ModemSettings.h"
#include "ModulePresence.h"
#include "PortLocks.h"
#include "PresenceMonitor.h"

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace modem {

// The download engine for cellular modules. Settings come from config.ini
// beside the library (ModemSettings). The presence monitor's thread looks at
// every socket, reads a module's identity over AT once per arrival and keeps
// it per port (ModulePresence); QueryDevice and EnumeratePorts answer from
// that state alone, with no device I/O and no wait for a device. A download
// runs on the thread that called it and reports there.
class ModemEngine final : public engine::EngineBase
{
public:
    // Makes the engine's links; onChange pokes the monitor (the bus saw a
    // change). The real engine's links are the USB ones.
    using MakeLinks = std::function<std::unique_ptr<ModemLinks>(std::function<void()> onChange)>;

    explicit ModemEngine(std::string stationDir);
    ModemEngine(std::string stationDir, const MakeLinks& makeLinks);
    ~ModemEngine();
    ModemEngine(const ModemEngine&) = delete;
    ModemEngine& operator=(const ModemEngine&) = delete;

    int32_t Setup(int32_t mode) override;
    int32_t QueryDevice(int32_t line, int32_t port, EngineText* info) override;
    int32_t EnumeratePorts(int32_t* ports, int32_t* count) override;
    int32_t Download(int32_t line, int32_t port) override;
    int32_t ReloadSettings() override;

private:
    struct Port
    {
        std::string endpoint;
        ModulePresence presence;
        ModemLinks::State known; // the enumeration whose identity is below
        bool identityKnown = false;
        ModuleIdentity identity;
        ModemLinks::State ttyless; // the enumeration first seen without a tty, and when
        std::chrono::steady_clock::time_point ttylessSince;
    };

    // How long a new module may show no tty (its serial driver binding)
    // before it is reported as not ready.
    static constexpr std::chrono::seconds kTtyGrace{5};

    bool probeAll(const std::atomic_bool& stop);
    // What is at one port now; false when a download holds it.
    bool observe(int port, const std::string& socket, const ModemSettings& settings,
                 ModulePresence::Observation* seen);
    void loadPorts(const ModemSettings& settings);

    const std::string m_stationDir;
    engine::PortLocks m_locks; // a download holds its socket's; the monitor never waits for one
    std::mutex m_stateMutex;   // held only to read or change m_ports, never across I/O
    std::map<int, Port> m_ports; // guarded by m_stateMutex
    std::atomic<int> m_intervalMs{1000};
    std::atomic<int> m_holdS{90};
    std::atomic<bool> m_raiseAgain{false};
    engine::PresenceMonitor m_monitor;
    std::unique_ptr<ModemLinks> m_links; // goes first: its threads poke the monitor
};

} // namespace modem

#pragma once

#include "FlashEngine.h"
#include "PortLocks.h"
#include "PresenceMonitor.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <string>

namespace fastboot {

struct Endpoint;
struct FastbootSettings;
class Transport;
class UsbHost;

// The download engine for fastboot devices. Settings come from config.ini
// beside the library (FastbootSettings); every operation connects to the
// port's endpoint and closes the connection afterwards. Presence is polled
// by a PresenceMonitor; a download reports on the thread that called it.
class FastbootEngine final : public FlashEngine
{
public:
    explicit FastbootEngine(std::string stationDir);
    ~FastbootEngine();
    FastbootEngine(const FastbootEngine&) = delete;
    FastbootEngine& operator=(const FastbootEngine&) = delete;

    int32_t Reserved0() override { return 0; }
    int32_t Reserved1() override { return 0; }
    int32_t RegisterSink(EngineEventSink* sink) override;
    int32_t Setup(int32_t mode) override;
    int32_t Reserved4() override { return 0; }
    int32_t Reserved5() override { return 0; }
    int32_t Reserved6() override { return 0; }
    int32_t QueryDevice(int32_t line, int32_t port, EngineText* info) override;
    int32_t EnumeratePorts(int32_t* ports, int32_t* count) override;
    int32_t Download(int32_t line, int32_t port) override;
    int32_t ReloadSettings() override;

    // How long a presence probe or a query may take.
    static constexpr std::chrono::milliseconds kProbeTimeout{1000};
    static constexpr std::chrono::milliseconds kQueryTimeout{3000};

private:
    // The sink, shared with the monitor thread, which may outlive the engine
    // when the tool does not take its device event.
    struct SinkHolder
    {
        std::mutex mutex;
        EngineEventSink* sink = nullptr;
        void raise(int32_t type, int32_t line, void* data);
    };

    std::set<int> probeAll(const FastbootSettings& settings, const std::atomic_bool* stop);
    bool answers(const std::string& endpoint);
    // QueryDevice for a "usb:" endpoint: presence from the bus, the
    // identity over a USB transport.
    int32_t queryUsb(int32_t line, const Endpoint& endpoint, const FastbootSettings& settings, EngineText* info);
    // A device busy with a download serves no other connection; its lock
    // is held while events go out, so a query does not wait for it.
    bool isDownloading(const std::string& endpoint);
    // QueryDevice's answer from a device that is there: its identity.
    static int32_t readIdentity(Transport& link, const FastbootSettings& settings, EngineText* info);

    const std::string m_stationDir;
    std::shared_ptr<SinkHolder> m_sink;
    PortLocks m_locks;
    std::mutex m_busyMutex;
    std::multiset<std::string> m_downloading; // guarded by m_busyMutex
    PresenceMonitor m_monitor;
    std::unique_ptr<UsbHost> m_usb; // goes first: its watch thread pokes the monitor
};

} // namespace fastboot

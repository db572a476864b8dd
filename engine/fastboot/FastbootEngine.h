#pragma once

#include "EngineBase.h"
#include "FastbootUsb.h"
#include "FlashEngine.h"
#include "PortLocks.h"
#include "PortPresence.h"
#include "PresenceMonitor.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace fastboot {

struct Endpoint;
class HostResolver;
struct FastbootSettings;
class Transport;

// The download engine for fastboot devices. Settings come from config.ini
// beside the library (FastbootSettings). The presence monitor's thread looks
// at every port, reads each unit's identity once when it arrives and keeps
// it per port (PortPresence); QueryDevice and EnumeratePorts answer from
// that state alone, with no device or network I/O and no wait for a device.
// A download connects on the thread that called it and reports there. The
// engine owns its name lookup (HostResolver) and hands it to every TCP
// connection it makes.
class FastbootEngine final : public engine::EngineBase
{
public:
    explicit FastbootEngine(std::string stationDir);
    // With a resolver of the caller's in place of the system's (tests).
    FastbootEngine(std::string stationDir, std::shared_ptr<HostResolver> resolver);
    ~FastbootEngine();
    FastbootEngine(const FastbootEngine&) = delete;
    FastbootEngine& operator=(const FastbootEngine&) = delete;

    int32_t Setup(int32_t mode) override;
    int32_t QueryDevice(int32_t line, int32_t port, EngineText* info) override;
    int32_t EnumeratePorts(int32_t* ports, int32_t* count) override;
    int32_t Download(int32_t line, int32_t port) override;
    int32_t ReloadSettings() override;

    // How long the monitor waits for an endpoint to answer, and for a
    // unit's whole identity. One port's look costs at most both, which
    // bounds how long Destroy waits for the monitor.
    static constexpr std::chrono::milliseconds kProbeTimeout{1000};
    static constexpr std::chrono::milliseconds kIdentityTimeout{2000};
    // How long a round waits for a host name's lookup before it moves on.
    static constexpr std::chrono::milliseconds kLookupWait{100};

private:
    // One configured port as the monitor keeps it.
    struct Port
    {
        std::string endpoint;
        PortPresence presence;
        bool answered = false;      // TCP: the last probe got the handshake
        UsbHost::Enumeration enumeration; // USB: the one whose identity is known
        bool identityKnown = false; // the identity below belongs to what is there
        DeviceIdentity identity;
    };

    // The monitor's round: true when the tool should hear of a change.
    bool probeAll(const std::atomic_bool& stop);
    // What is at one port now; false when the port is busy with a download
    // (nothing is known then).
    bool observe(int port, const Endpoint& endpoint, const FastbootSettings& settings,
                 PortPresence::Observation* seen);
    bool observeUsb(int port, const Endpoint& endpoint, const FastbootSettings& settings,
                    PortPresence::Observation* seen);
    // Reads the identity of the unit at the other end of link.
    static void identify(int port, Transport& link, const FastbootSettings& settings,
                         PortPresence::Observation* seen);
    void loadPorts(const FastbootSettings& settings);

    const std::string m_stationDir;
    const std::shared_ptr<HostResolver> m_resolver; // never null
    engine::PortLocks m_locks; // a download holds its endpoint's; the monitor never waits for one
    std::mutex m_stateMutex; // held only to read or change m_ports, never across I/O
    std::map<int, Port> m_ports; // guarded by m_stateMutex
    std::atomic<int> m_intervalMs{1000};
    std::atomic<int> m_holdS{90};
    std::atomic<bool> m_raiseAgain{false};
    engine::PresenceMonitor m_monitor;
    std::unique_ptr<UsbHost> m_usb; // goes first: its watch thread pokes the monitor
};

} // namespace fastboot

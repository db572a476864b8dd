#include "core/StationLines.h"
#include "FastbootEngine.h"

#include "BoundedTransport.h"
#include "DeviceIdentity.h"
#include "Endpoint.h"
#include "FastbootClient.h"
#include "FastbootSettings.h"
#include "FlashJob.h"
#include "HostResolver.h"
#include "PortAnswer.h"
#include "SystemResolver.h"
#include "UsbTransport.h"

#include <exception>
#include <filesystem>

namespace fastboot {

namespace {


using Observation = PortPresence::Observation;

Observation notReady(Observation::Kind kind, std::string why)
{
    Observation seen;
    seen.kind = kind;
    seen.why = std::move(why);
    return seen;
}

} // namespace

FastbootEngine::FastbootEngine(std::string stationDir)
    : FastbootEngine(std::move(stationDir), std::make_shared<SystemResolver>())
{
}

FastbootEngine::FastbootEngine(std::string stationDir, std::shared_ptr<HostResolver> resolver)
    : m_stationDir(std::move(stationDir))
    , m_resolver(resolver ? std::move(resolver) : std::make_shared<SystemResolver>())
    , m_monitor(
          [this](const std::atomic_bool& stop) {
              try {
                  return probeAll(stop);
              } catch (const std::exception&) {
                  return false; // out of memory and the like: the next round tries again
              }
          },
                [sink = m_sink] {
                    int32_t offer = 1;
                    sink->raise(ENGINE_EVENT_DEVICE, 0, &offer);
                },
                [this] { return std::chrono::milliseconds(m_intervalMs.load()); })
{
    loadPorts(FastbootSettings::load(m_stationDir));
    m_usb = std::make_unique<UsbHost>(usbPortSettings((std::filesystem::path(m_stationDir) / "config.ini").string()),
                                      kFastbootInterface, "fastboot engine",
                                      [this] { m_monitor.poke(); });
    m_monitor.start();
}

FastbootEngine::~FastbootEngine()
{
    m_monitor.stop();
    m_usb.reset();
}

int32_t FastbootEngine::Setup(int32_t)
{
    return 0;
}

int32_t FastbootEngine::QueryDevice(int32_t line, int32_t port, EngineText* info)
{
    bool settled = false;
    const int32_t status = engine::answerPort(m_stateMutex, m_ports, line, port, info, *m_sink, &settled);
    if (settled) {
        // The port was answered empty once; the tool hears again what is there.
        m_raiseAgain = true;
        m_monitor.poke();
    }
    return status;
}

int32_t FastbootEngine::EnumeratePorts(int32_t* ports, int32_t* count)
{
    return engine::listOccupied(m_stateMutex, m_ports, ports, count);
}

int32_t FastbootEngine::Download(int32_t line, int32_t port)
{
    if (line < 0 || line >= kLines)
        return -1;
    int32_t result = FASTBOOT_RESULT_INTERNAL_ERROR;
    try {
        FlashJob::Events events;
        events.progress = [&](int32_t percent) { m_sink->raise(ENGINE_EVENT_PROGRESS, line, &percent); };
        events.message = [&](const std::string& text) {
            m_sink->raise(ENGINE_EVENT_MESSAGE, line, const_cast<char*>(text.c_str()));
        };
        // The unit goes away now; its socket stays its own for the hold.
        events.rebooting = [&] {
            std::lock_guard lock(m_stateMutex);
            if (const auto it = m_ports.find(port); it != m_ports.end())
                it->second.presence.rebooted(Clock::now());
        };
        const FastbootSettings settings = FastbootSettings::load(m_stationDir);
        // The endpoint's lock keeps the monitor off the device while it
        // downloads; queries answer from what the monitor knew.
        const engine::PortLocks::Lock lock = m_locks.acquire(settings.endpointOf(port));
        FlashJob job(settings, port, std::move(events), m_usb ? m_usb->bus() : nullptr, *m_resolver);
        result = job.run();
    } catch (const std::exception& e) {
        std::string text = std::string("The download engine failed: ") + e.what();
        m_sink->raise(ENGINE_EVENT_MESSAGE, line, text.data());
    }
    m_sink->raise(ENGINE_EVENT_RESULT, line, &result);
    m_monitor.poke();
    return result;
}

int32_t FastbootEngine::ReloadSettings()
{
    // The ports as config.ini has them now; the monitor looks at them at once.
    loadPorts(FastbootSettings::load(m_stationDir));
    m_usb->reload();
    m_monitor.poke();
    return 0;
}

void FastbootEngine::loadPorts(const FastbootSettings& settings)
{
    m_intervalMs = settings.probeIntervalMs;
    m_holdS = settings.rebootHoldS;
    std::lock_guard lock(m_stateMutex);
    std::erase_if(m_ports, [&](const auto& entry) { return settings.endpointOf(entry.first) != entry.second.endpoint; });
    for (const auto& [port, text] : settings.ports) {
        if (m_ports.count(port))
            continue;
        // Over USB the hold runs from the reboot; over TCP, from the first
        // probe that finds the endpoint silent.
        Port& entry = m_ports[port];
        entry.endpoint = text;
        entry.presence = PortPresence(text.starts_with("usb:") ? PortPresence::HoldFrom::Reboot
                                                               : PortPresence::HoldFrom::Silence);
    }
}

bool FastbootEngine::probeAll(const std::atomic_bool& stop)
{
    const FastbootSettings settings = FastbootSettings::load(m_stationDir);
    loadPorts(settings);
    bool changed = m_raiseAgain.exchange(false);
    for (const auto& [port, text] : settings.ports) {
        if (stop)
            break;
        Endpoint endpoint;
        std::string why;
        if (!Endpoint::parse(text, &endpoint, &why))
            continue;
        Observation seen;
        if (!observe(port, endpoint, settings, &seen))
            continue;
        std::lock_guard lock(m_stateMutex);
        const auto it = m_ports.find(port);
        if (it == m_ports.end() || it->second.endpoint != text)
            continue; // changed meanwhile: the next round looks again
        Port& entry = it->second;
        entry.identityKnown = seen.kind == Observation::Kind::Unit;
        if (entry.identityKnown)
            entry.identity = seen.identity;
        changed |= entry.presence.observe(seen, Clock::now(), std::chrono::seconds(m_holdS.load()));
    }
    return changed;
}

bool FastbootEngine::observe(int port, const Endpoint& endpoint, const FastbootSettings& settings,
                             Observation* seen)
{
    if (endpoint.kind == Endpoint::Kind::Usb)
        return observeUsb(port, endpoint, settings, seen);
    const engine::PortLocks::Lock lock = m_locks.acquire(endpoint.text, std::chrono::milliseconds(0));
    if (!lock.owns_lock())
        return false;
    std::string why;
    // A name still being looked up (or that does not resolve) is an empty
    // port for this round; its lookup goes on without holding the round up.
    std::vector<HostResolver::Address> addresses;
    const bool named = m_resolver->resolve(endpoint.host, endpoint.port, Clock::now() + kLookupWait, &addresses, &why)
                       == HostResolver::Outcome::Resolved;
    const auto link = named ? endpoint.open(nullptr, *m_resolver, Clock::now() + kProbeTimeout, &why) : nullptr;
    bool known = false;
    {
        std::lock_guard state(m_stateMutex);
        const auto it = m_ports.find(port);
        if (it == m_ports.end())
            return false; // taken out of config.ini meanwhile
        Port& entry = it->second;
        known = link && entry.answered && entry.identityKnown;
        entry.answered = link != nullptr;
        if (known) {
            seen->kind = Observation::Kind::Unit;
            seen->identity = entry.identity;
        }
    }
    // The identity is read when the endpoint answers again after silence.
    if (link && !known)
        identify(port, *link, settings, seen);
    return true;
}

bool FastbootEngine::observeUsb(int port, const Endpoint& endpoint, const FastbootSettings& settings,
                                Observation* seen)
{
    // A download owns the unit until it ends (it may reboot it meanwhile).
    const engine::PortLocks::Lock lock = m_locks.acquire(endpoint.text, std::chrono::milliseconds(0));
    if (!lock.owns_lock())
        return false;
    const UsbLocation socket = *UsbLocation::parse(endpoint.location);
    // One identity read per enumeration: the same device stays known.
    const UsbHost::Enumeration enumeration = m_usb->enumeration(socket);
    switch (enumeration.presence) {
    case UsbHost::Presence::None:
        return true;
    case UsbHost::Presence::BootRom:
        seen->kind = Observation::Kind::BootRom;
        return true;
    case UsbHost::Presence::Other:
        *seen = notReady(Observation::Kind::NotFastboot,
                         "The device in USB socket " + socket.text()
                             + " is not in fastboot mode: reboot it to the bootloader.");
        return true;
    case UsbHost::Presence::Ready:
        break;
    }
    {
        std::lock_guard state(m_stateMutex);
        const auto it = m_ports.find(port);
        if (it == m_ports.end())
            return false; // taken out of config.ini meanwhile
        const Port& entry = it->second;
        if (entry.identityKnown && entry.enumeration == enumeration) {
            seen->kind = Observation::Kind::Unit;
            seen->identity = entry.identity;
            return true;
        }
    }
    if (!m_usb->bus())
        return false;
    std::string why;
    UsbTransport::OpenError error = UsbTransport::OpenError::None;
    const auto link = UsbTransport::open(*m_usb->bus(), socket, Clock::now() + kProbeTimeout, &why, &error);
    if (!link) {
        // Gone meanwhile: the next round sees it; else there, but not to be had.
        if (error != UsbTransport::OpenError::NoDevice)
            *seen = notReady(Observation::Kind::NotReady, why);
        return true;
    }
    identify(port, *link, settings, seen);
    if (seen->kind == Observation::Kind::Unit) {
        std::lock_guard state(m_stateMutex);
        if (const auto it = m_ports.find(port); it != m_ports.end())
            it->second.enumeration = enumeration;
    }
    return true;
}

void FastbootEngine::identify(int port, Transport& link, const FastbootSettings& settings, Observation* seen)
{
    BoundedTransport bounded(link, Clock::now() + kIdentityTimeout);
    FastbootClient client(bounded, kIdentityTimeout, {});
    DeviceIdentity identity;
    const std::string where = "The device on port " + std::to_string(port);
    if (!DeviceIdentity::read(client, settings, &identity)) {
        *seen = notReady(Observation::Kind::NotReady,
                         where + " does not answer its identity (" + client.failure().text + "). Check it.");
        return;
    }
    // A unit whose serial number or IMEI changes from one read to the next
    // cannot be told from another one.
    DeviceIdentity again;
    if (!DeviceIdentity::read(client, settings, &again) || again.serial != identity.serial
        || again.imei != identity.imei) {
        *seen = notReady(Observation::Kind::NotReady,
                         where + " gives another serial number or IMEI at every read (" + identity.serial + "/"
                             + identity.imei + ", then " + again.serial + "/" + again.imei + "). Check it.");
        return;
    }
    seen->kind = Observation::Kind::Unit;
    seen->identity = identity;
}

} // namespace fastboot

#include "ModemEngine.h"

#include "ModemJob.h"
#include "ModemResults.h"
#include "PortAnswer.h"
#include "UsbModemLinks.h"
#include "core/StationLines.h"

#include <exception>
#include <filesystem>

namespace modem {

namespace {

using Observation = ModulePresence::Observation;

Observation notReady(std::string why)
{
    Observation seen;
    seen.kind = Observation::Kind::NotReady;
    seen.why = std::move(why);
    return seen;
}

std::string socketOf(const std::string& endpoint)
{
    return endpoint.rfind("usb:", 0) == 0 ? endpoint.substr(4) : endpoint;
}

} // namespace

ModemEngine::ModemEngine(std::string stationDir)
    : ModemEngine(std::move(stationDir), {})
{
}

ModemEngine::ModemEngine(std::string stationDir, const MakeLinks& makeLinks)
    : m_stationDir(std::move(stationDir))
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
    const ModemSettings settings = ModemSettings::load(m_stationDir);
    loadPorts(settings);
    const auto poke = [this] { m_monitor.poke(); };
    if (makeLinks)
        m_links = makeLinks(poke);
    else
        m_links = std::make_unique<UsbModemLinks>((std::filesystem::path(m_stationDir) / "config.ini").string(),
                                                  settings.edlIdsText(), poke);
    m_monitor.start();
}

ModemEngine::~ModemEngine()
{
    m_monitor.stop();
    m_links.reset();
}

int32_t ModemEngine::Setup(int32_t)
{
    return 0;
}

int32_t ModemEngine::QueryDevice(int32_t line, int32_t port, EngineText* info)
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

int32_t ModemEngine::EnumeratePorts(int32_t* ports, int32_t* count)
{
    return engine::listOccupied(m_stateMutex, m_ports, ports, count);
}

int32_t ModemEngine::Download(int32_t line, int32_t port)
{
    if (line < 0 || line >= kLines)
        return -1;
    int32_t result = MODEM_RESULT_INTERNAL_ERROR;
    try {
        ModemJob::Events events;
        events.progress = [&](int32_t percent) { m_sink->raise(ENGINE_EVENT_PROGRESS, line, &percent); };
        events.message = [&](const std::string& text) {
            m_sink->raise(ENGINE_EVENT_MESSAGE, line, const_cast<char*>(text.c_str()));
        };
        events.away = [&] {
            std::lock_guard lock(m_stateMutex);
            if (const auto it = m_ports.find(port); it != m_ports.end())
                it->second.presence.away(ModulePresence::Clock::now());
        };
        const ModemSettings settings = ModemSettings::load(m_stationDir);
        // The socket's lock keeps the monitor off the module while it
        // downloads; queries answer from what the monitor knew.
        const engine::PortLocks::Lock lock = m_locks.acquire(socketOf(settings.endpointOf(port)));
        ModemJob job(settings, port, std::move(events), *m_links);
        result = job.run();
    } catch (const std::exception& e) {
        std::string text = std::string("The download engine failed: ") + e.what();
        m_sink->raise(ENGINE_EVENT_MESSAGE, line, text.data());
    }
    m_sink->raise(ENGINE_EVENT_RESULT, line, &result);
    m_monitor.poke();
    return result;
}

int32_t ModemEngine::ReloadSettings()
{
    const ModemSettings settings = ModemSettings::load(m_stationDir);
    loadPorts(settings);
    m_links->reload(settings.edlIdsText());
    m_monitor.poke();
    return 0;
}

void ModemEngine::loadPorts(const ModemSettings& settings)
{
    m_intervalMs = settings.probeIntervalMs;
    m_holdS = settings.rebootHoldS;
    std::lock_guard lock(m_stateMutex);
    std::erase_if(m_ports, [&](const auto& entry) { return settings.endpointOf(entry.first) != entry.second.endpoint; });
    for (const auto& [port, text] : settings.ports) {
        if (!m_ports.count(port))
            m_ports[port].endpoint = text;
    }
}

bool ModemEngine::probeAll(const std::atomic_bool& stop)
{
    const ModemSettings settings = ModemSettings::load(m_stationDir);
    loadPorts(settings);
    bool changed = m_raiseAgain.exchange(false);
    for (const auto& [port, text] : settings.ports) {
        if (stop)
            break;
        Observation seen;
        if (!observe(port, socketOf(text), settings, &seen))
            continue;
        std::lock_guard lock(m_stateMutex);
        const auto it = m_ports.find(port);
        if (it == m_ports.end() || it->second.endpoint != text)
            continue; // changed meanwhile: the next round looks again
        changed |= it->second.presence.observe(seen, ModulePresence::Clock::now(), std::chrono::seconds(m_holdS.load()));
    }
    return changed;
}

bool ModemEngine::observe(int port, const std::string& socket, const ModemSettings& settings, Observation* seen)
{
    // A download owns the module until it ends (it switches and resets it).
    const engine::PortLocks::Lock lock = m_locks.acquire(socket, std::chrono::milliseconds(0));
    if (!lock.owns_lock())
        return false;
    const ModemLinks::State state = m_links->state(socket);
    switch (state.mode) {
    case ModemLinks::Mode::None:
        return true;
    case ModemLinks::Mode::Download:
        seen->kind = Observation::Kind::Download;
        return true;
    case ModemLinks::Mode::Other:
        *seen = notReady("The device in USB socket " + socket
                         + " is no module in normal or download mode (check EDL_IDS, or it is another device).");
        return true;
    case ModemLinks::Mode::Normal:
        break;
    }
    {
        // One identity read per enumeration: the same device stays known.
        std::lock_guard guard(m_stateMutex);
        const auto it = m_ports.find(port);
        if (it == m_ports.end())
            return false;
        if (it->second.identityKnown && it->second.known == state) {
            seen->kind = Observation::Kind::Module;
            seen->identity = it->second.identity;
            return true;
        }
    }
    ModuleIdentity identity;
    std::string why;
    const ModuleIdentity::Outcome outcome = ModuleIdentity::read(*m_links, socket, settings, &identity, &why);
    if (outcome == ModuleIdentity::Outcome::Lost)
        return true; // gone meanwhile: the next round sees what is there
    if (outcome == ModuleIdentity::Outcome::NoTty) {
        // Just arrived: the kernel may not have bound its serial driver yet.
        const auto now = std::chrono::steady_clock::now();
        std::lock_guard guard(m_stateMutex);
        const auto it = m_ports.find(port);
        if (it == m_ports.end())
            return false;
        if (!(it->second.ttyless == state)) {
            it->second.ttyless = state;
            it->second.ttylessSince = now;
        }
        if (now - it->second.ttylessSince < kTtyGrace)
            return false;
    }
    if (outcome != ModuleIdentity::Outcome::Read) {
        *seen = notReady("The module in USB socket " + socket + " does not answer on its AT port (" + why
                         + "). Check AT_INTERFACE and that no other program holds the tty.");
        return true;
    }
    seen->kind = Observation::Kind::Module;
    seen->identity = identity;
    std::lock_guard guard(m_stateMutex);
    if (const auto it = m_ports.find(port); it != m_ports.end()) {
        it->second.known = state;
        it->second.identity = identity;
        it->second.identityKnown = true;
    }
    return true;
}

} // namespace modem

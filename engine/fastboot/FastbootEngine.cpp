#include "FastbootEngine.h"

#include "DeviceIdentity.h"
#include "Endpoint.h"
#include "FastbootClient.h"
#include "FastbootSettings.h"
#include "FlashJob.h"
#include "UsbHost.h"
#include "UsbTransport.h"

#include <filesystem>

#include <algorithm>
#include <cstring>
#include <exception>

namespace fastboot {

namespace {

constexpr int32_t kLines = 8;

void setText(EngineText* info, const std::string& text)
{
    if (!info)
        return;
    const size_t n = std::min(text.size(), sizeof info->text - 1);
    std::memcpy(info->text, text.data(), n);
    info->text[n] = '\0';
}

} // namespace

void FastbootEngine::SinkHolder::raise(int32_t type, int32_t line, void* data)
{
    EngineEventSink* target = nullptr;
    {
        std::lock_guard lock(mutex);
        target = sink;
    }
    if (!target)
        return;
    EngineEvent event{type, line, data};
    target->OnEvent(&event);
}

FastbootEngine::FastbootEngine(std::string stationDir)
    : m_stationDir(std::move(stationDir))
    , m_sink(std::make_shared<SinkHolder>())
    , m_monitor(
          [this](const std::atomic_bool& stop) { return probeAll(FastbootSettings::load(m_stationDir), &stop); },
          [sink = m_sink] {
              int32_t offer = 1;
              sink->raise(ENGINE_EVENT_DEVICE, 0, &offer);
          })
{
    m_usb = std::make_unique<UsbHost>((std::filesystem::path(m_stationDir) / "config.ini").string(),
                                      [this] { m_monitor.poke(); });
    m_monitor.start();
}

FastbootEngine::~FastbootEngine()
{
    m_monitor.stop();
    m_usb.reset();
}

int32_t FastbootEngine::RegisterSink(EngineEventSink* sink)
{
    std::lock_guard lock(m_sink->mutex);
    m_sink->sink = sink;
    return 0;
}

int32_t FastbootEngine::Setup(int32_t)
{
    return 0;
}

int32_t FastbootEngine::QueryDevice(int32_t line, int32_t port, EngineText* info)
{
    try {
        setText(info, {});
        const FastbootSettings settings = FastbootSettings::load(m_stationDir);
        Endpoint endpoint;
        std::string why;
        if (!Endpoint::parse(settings.endpointOf(port), &endpoint, &why))
            return -1;
        if (endpoint.kind == Endpoint::Kind::Usb)
            return queryUsb(line, endpoint, settings, info);
        if (isDownloading(endpoint.text))
            return -1;
        const PortLocks::Lock lock = m_locks.acquire(endpoint.text, kQueryTimeout);
        if (!lock.owns_lock())
            return -1;
        const auto link = endpoint.open(Clock::now() + kProbeTimeout, &why);
        if (!link)
            return -1;
        return readIdentity(*link, settings, info);
    } catch (const std::exception&) {
        return -1;
    }
}

int32_t FastbootEngine::EnumeratePorts(int32_t* ports, int32_t* count)
{
    if (!ports || !count || *count < 0)
        return -1;
    try {
        const std::set<int> found = probeAll(FastbootSettings::load(m_stationDir), nullptr);
        int32_t n = 0;
        for (auto it = found.lower_bound(1); it != found.end() && n < *count; ++it)
            ports[n++] = *it;
        *count = n;
        return 0;
    } catch (const std::exception&) {
        *count = 0;
        return -1;
    }
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
        const FastbootSettings settings = FastbootSettings::load(m_stationDir);
        const std::string endpoint = settings.endpointOf(port);
        {
            std::lock_guard busy(m_busyMutex);
            m_downloading.insert(endpoint);
        }
        struct Done
        {
            FastbootEngine* engine;
            std::string endpoint;
            ~Done()
            {
                std::lock_guard busy(engine->m_busyMutex);
                engine->m_downloading.erase(engine->m_downloading.find(endpoint));
            }
        } done{this, endpoint};
        // The endpoint's lock keeps the engine's own probes off the device
        // while it downloads; queries see it busy without waiting for it.
        const PortLocks::Lock lock = m_locks.acquire(endpoint);
        FlashJob job(settings, port, std::move(events));
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
    // Every operation reads the settings anew; the monitor looks at the
    // endpoints again at once.
    m_usb->reload();
    m_monitor.poke();
    return 0;
}

std::set<int> FastbootEngine::probeAll(const FastbootSettings& settings, const std::atomic_bool* stop)
{
    std::set<int> present;
    for (const auto& [port, text] : settings.ports) {
        if (stop && *stop)
            break;
        if (answers(text))
            present.insert(port);
        // A USB device that enumerates anew (re-plugged, rebooted, switched
        // to or from its boot ROM) is a change too, even when the port looked
        // occupied at every probe: such ports also carry a negative marker
        // that names the enumeration.
        if (text.starts_with("usb:")) {
            Endpoint endpoint;
            std::string why;
            if (Endpoint::parse(text, &endpoint, &why)) {
                if (const int key = m_usb->enumeration(*UsbLocation::parse(endpoint.location)))
                    present.insert(-(port * 512 + key));
            }
        }
    }
    return present;
}

bool FastbootEngine::answers(const std::string& text)
{
    Endpoint endpoint;
    std::string why;
    if (!Endpoint::parse(text, &endpoint, &why))
        return false;
    // A USB device is there when the bus lists it; nothing is sent to it.
    if (endpoint.kind == Endpoint::Kind::Usb)
        return m_usb->presence(*UsbLocation::parse(endpoint.location)) != UsbHost::Presence::None;
    const PortLocks::Lock lock = m_locks.acquire(endpoint.text, std::chrono::milliseconds(0));
    if (!lock.owns_lock())
        return true; // in use by a download or query of ours: it is there
    return endpoint.open(Clock::now() + kProbeTimeout, &why) != nullptr;
}

int32_t FastbootEngine::queryUsb(int32_t line, const Endpoint& endpoint, const FastbootSettings& settings,
                                 EngineText* info)
{
    const UsbLocation socket = *UsbLocation::parse(endpoint.location);
    switch (m_usb->presence(socket)) {
    case UsbHost::Presence::None:
        return -1;
    case UsbHost::Presence::BootRom:
        return 1; // present, not ready: the tool shows its ARM-mode text
    case UsbHost::Presence::Fastboot:
        break;
    }
    const std::string& key = endpoint.text;
    if (isDownloading(key))
        return -1;
    const PortLocks::Lock lock = m_locks.acquire(key, kQueryTimeout);
    if (!lock.owns_lock() || !m_usb->bus())
        return -1;
    std::string why;
    UsbTransport::OpenError error = UsbTransport::OpenError::None;
    const auto link = UsbTransport::open(*m_usb->bus(), socket, Clock::now() + kProbeTimeout, &why, &error);
    if (!link) {
        if (error != UsbTransport::OpenError::Permission && error != UsbTransport::OpenError::Busy)
            return -1;
        // There, but not to be had: not ready, and the line says why.
        m_sink->raise(ENGINE_EVENT_MESSAGE, line, why.data());
        return 2;
    }
    return readIdentity(*link, settings, info);
}

bool FastbootEngine::isDownloading(const std::string& endpoint)
{
    std::lock_guard busy(m_busyMutex);
    return m_downloading.count(endpoint) != 0;
}

int32_t FastbootEngine::readIdentity(Transport& link, const FastbootSettings& settings, EngineText* info)
{
    FastbootClient client(link, kQueryTimeout, {});
    DeviceIdentity identity;
    if (!DeviceIdentity::read(client, settings, &identity))
        return -1;
    setText(info, identity.joined());
    return 0;
}

} // namespace fastboot

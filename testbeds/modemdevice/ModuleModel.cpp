#include "ModuleModel.h"

#include <fstream>
#include <vector>

namespace modemdevice {

ModuleModel::ModuleModel(ModuleSettings settings)
    : m_settings(std::move(settings))
    , m_mode(m_settings.startInDownload ? Mode::Sahara : Mode::Normal)
    , m_revision(m_settings.revision)
{
}

void ModuleModel::connected(const Send& send)
{
    std::lock_guard lock(m_mutex);
    if (m_mode == Mode::Sahara)
        m_sahara.start(m_settings, send);
}

ModuleModel::Next ModuleModel::receive(const char* data, size_t size, const Send& send)
{
    std::lock_guard lock(m_mutex);
    switch (m_mode) {
    case Mode::Normal:
        if (m_at.receive(m_settings, m_revision, data, size, send) == AtResponder::Next::SwitchToDownload) {
            m_mode = Mode::Sahara;
            m_at = AtResponder();
            return Next::Disconnect;
        }
        return Next::Continue;
    case Mode::Sahara:
        switch (m_sahara.receive(m_settings, data, size, send)) {
        case SaharaTarget::Next::Continue: return Next::Continue;
        case SaharaTarget::Next::Stall: return Next::Stall;
        case SaharaTarget::Next::ProgrammerRunning:
            m_mode = Mode::Firehose;
            m_firehose = FirehoseTarget();
            return Next::Continue;
        }
        return Next::Stall;
    case Mode::Firehose:
        switch (m_firehose.receive(m_settings, data, size, send)) {
        case FirehoseTarget::Next::Continue: return Next::Continue;
        case FirehoseTarget::Next::Stall: return Next::Stall;
        case FirehoseTarget::Next::Drop:
            // Plugged in again, the chip starts from its boot ROM.
            m_mode = Mode::Sahara;
            m_sahara = SaharaTarget();
            return Next::Drop;
        case FirehoseTarget::Next::Reset:
            ++m_resets;
            findRevision();
            m_mode = Mode::Normal;
            m_sahara = SaharaTarget();
            return Next::Disconnect;
        }
        return Next::Stall;
    }
    return Next::Stall;
}

// The revision a reset comes back with: the text after the marker in the
// written storage, up to the end of its line. Read in blocks that overlap by
// the marker and the longest revision, so that none is cut by a block edge.
void ModuleModel::findRevision()
{
    if (m_settings.storageDir.empty() || m_settings.revisionMarker.empty())
        return;
    constexpr size_t kMaxRevision = 64;
    const std::string& marker = m_settings.revisionMarker;
    const size_t overlap = marker.size() + kMaxRevision;
    for (uint32_t lun = 0; lun < 8; ++lun) {
        std::ifstream in(FirehoseTarget::lunPath(m_settings, lun), std::ios::binary);
        std::string window;
        std::vector<char> block(1024 * 1024);
        while (in) {
            in.read(block.data(), std::streamsize(block.size()));
            window.append(block.data(), size_t(in.gcount()));
            const size_t at = window.find(marker);
            if (at != std::string::npos && (window.size() - at >= overlap || !in)) {
                const size_t start = at + marker.size();
                size_t end = start;
                while (end < window.size() && end - start < kMaxRevision && window[end] != '\n'
                       && window[end] != '\r' && window[end] != '\0')
                    ++end;
                m_revision = window.substr(start, end - start);
                return;
            }
            if (at == std::string::npos && window.size() > overlap)
                window.erase(0, window.size() - overlap);
        }
    }
}

void ModuleModel::powerCycled()
{
    std::lock_guard lock(m_mutex);
    m_at = AtResponder();
    if (m_mode != Mode::Normal) {
        m_mode = Mode::Sahara;
        m_sahara = SaharaTarget();
    }
}

ModuleModel::Mode ModuleModel::mode() const
{
    std::lock_guard lock(m_mutex);
    return m_mode;
}

std::string ModuleModel::revision() const
{
    std::lock_guard lock(m_mutex);
    return m_revision;
}

ModuleSettings ModuleModel::settings() const
{
    std::lock_guard lock(m_mutex);
    return m_settings;
}

int ModuleModel::saharaHellos() const
{
    std::lock_guard lock(m_mutex);
    return m_sahara.helloCount();
}

int ModuleModel::readRequests() const
{
    std::lock_guard lock(m_mutex);
    return m_sahara.readRequests();
}

int ModuleModel::configures() const
{
    std::lock_guard lock(m_mutex);
    return m_firehose.configures();
}

uint64_t ModuleModel::payload() const
{
    std::lock_guard lock(m_mutex);
    return m_firehose.payload();
}

int ModuleModel::zeroLengthPackets() const
{
    std::lock_guard lock(m_mutex);
    return m_firehose.zeroLengthPackets();
}

int ModuleModel::missingZeroLengthPackets() const
{
    std::lock_guard lock(m_mutex);
    return m_firehose.missingZeroLengthPackets();
}

int ModuleModel::oversizedPayloads() const
{
    std::lock_guard lock(m_mutex);
    return m_firehose.oversizedPayloads();
}

int ModuleModel::resets() const
{
    std::lock_guard lock(m_mutex);
    return m_resets;
}

} // namespace modemdevice

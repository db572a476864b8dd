#pragma once

#include "AtResponder.h"
#include "FirehoseTarget.h"
#include "ModuleSettings.h"
#include "SaharaTarget.h"

#include <functional>
#include <mutex>
#include <string>

namespace modemdevice {

// One emulated cellular module, driven by packets like the emulated fastboot
// devices: in normal mode its AT tty, in download mode the boot ROM's Sahara
// and then the programmer's Firehose. Switching modes ends the connection,
// as the real module leaves the bus and comes back as another device; the
// next connection meets the new mode. Thread-safe.
class ModuleModel final
{
public:
    using Send = std::function<bool(const std::string& packet)>;
    enum class Mode { Normal, Sahara, Firehose };
    enum class Next {
        Continue,
        Stall,      // the module stops reading (a hung device)
        Disconnect, // the module leaves the bus after this packet
        Drop,       // the module left the bus before taking this packet (pulled)
    };

    explicit ModuleModel(ModuleSettings settings);
    ModuleModel(const ModuleModel&) = delete;
    ModuleModel& operator=(const ModuleModel&) = delete;

    // A host opened the link; in download mode the ROM says hello.
    void connected(const Send& send);
    Next receive(const char* data, size_t size, const Send& send);

    // The module lost power (pulled out of its socket): a chip in download
    // mode starts again from its boot ROM; normal mode stays.
    void powerCycled();

    Mode mode() const;
    std::string revision() const;
    ModuleSettings settings() const;

    // What the module saw, for tests.
    int saharaHellos() const;
    int readRequests() const;
    int configures() const;
    uint64_t payload() const;
    int zeroLengthPackets() const;
    int missingZeroLengthPackets() const;
    int oversizedPayloads() const;
    int resets() const;

private:
    void findRevision();

    mutable std::mutex m_mutex;
    ModuleSettings m_settings;
    Mode m_mode;
    std::string m_revision;
    AtResponder m_at;
    SaharaTarget m_sahara;
    FirehoseTarget m_firehose;
    int m_resets = 0;
};

} // namespace modemdevice

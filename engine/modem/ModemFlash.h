#pragma once

#include "FirehoseHost.h"
#include "FlashPackage.h"
#include "ModemFailure.h"
#include "PacketLink.h"
#include "SaharaHost.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace modem {

// One download to a module in download mode: Sahara hands over the
// programmer, then Firehose configures the storage, writes every program of
// the package in order, applies the patches and resets the module.
class ModemFlash final
{
public:
    struct Settings
    {
        std::string storage = "emmc"; // MemoryName: emmc, ufs, nand or spinor
        uint64_t maxPayload = 1024 * 1024;
        bool reset = true;
        bool readChipIdentity = true; // Sahara's command mode before the programmer
        std::chrono::milliseconds saharaTimeout{5000};
        FirehoseHost::Timeouts firehose;
    };
    using Progress = std::function<void(uint64_t written, uint64_t total)>;
    using Message = std::function<void(const std::string& text)>;

    static constexpr uint64_t kMaxProgrammer = 64ull * 1024 * 1024;

    ModemFlash(PacketLink& link, const FlashPackage& package, Settings settings, Progress progress, Message message);

    bool run();

    const ModemFailure& failure() const { return m_failure; }
    const ChipIdentity& chip() const { return m_chip; }

    static bool isStorage(const std::string& name);

private:
    bool checkPlan();
    bool sahara();
    bool firehose();
    bool write(FirehoseHost& host, const FlashPackage::Write& write);
    bool fail(ModemFailure::Kind kind, std::string text);
    bool failWith(const ModemFailure& failure);

    PacketLink& m_link;
    const FlashPackage& m_package;
    Settings m_settings;
    Progress m_progress;
    Message m_message;
    uint64_t m_written = 0;
    ChipIdentity m_chip;
    ModemFailure m_failure;
};

} // namespace modem

#pragma once

#include "FlashPackage.h"
#include "ModemFailure.h"
#include "ModemLinks.h"
#include "ModemResults.h"
#include "ModemSettings.h"
#include "ModuleIdentity.h"
#include "TransferRate.h"

#include <chrono>
#include <cstdint>
#include <cstddef>
#include <functional>
#include <string>

namespace modem {

// One download onto the module in one socket: the package of the version
// directory, the switch to download mode over AT, Sahara and Firehose, and
// the read-back after the reset. Progress (bytes written over the plan's
// bytes) and texts go through the callbacks on the calling thread; the
// failure text is the last message before run() returns its result code.
class ModemJob final
{
public:
    struct Events
    {
        std::function<void(int32_t percent)> progress;
        std::function<void(const std::string& text)> message;
        // The module leaves its socket now (switch or reset).
        std::function<void()> away;
    };

    // Progress events at most this often.
    static constexpr std::chrono::milliseconds kProgressInterval{200};
    // "Writing modem.img: 38.2 MB/s, 1:12 left" at most this often.
    static constexpr std::chrono::milliseconds kSpeedInterval{500};

    ModemJob(ModemSettings settings, int port, Events events, ModemLinks& links);

    ModemResult run();

    // The result code of a failure of the protocol core.
    static ModemResult resultOf(ModemFailure::Kind kind);

private:
    ModemResult fail(ModemResult code, const std::string& text);
    ModemResult identify(const std::string& when, ModuleIdentity* identity);
    ModemResult toDownloadMode(const ModemLinks::State& state);
    ModemResult readBack(const ModuleIdentity& before, const std::string& packageDisplay);
    void written(uint64_t done, uint64_t total);
    void reportProgress(int32_t percent, bool force);

    ModemSettings m_settings;
    int m_port;
    Events m_events;
    ModemLinks& m_links;
    std::string m_socket;
    std::string m_where; // "port 3 (USB socket 1-1.3)"
    int32_t m_lastPercent = -1;
    Clock::time_point m_lastReport;
    Clock::time_point m_lastSpeed;
    engine::TransferRate m_rate;
    const FlashPackage* m_package = nullptr; // while it is written
    size_t m_ttyPosition = SIZE_MAX; // which of the module's ttys answered AT
};

} // namespace modem

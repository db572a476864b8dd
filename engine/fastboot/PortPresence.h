#pragma once

#include "DeviceIdentity.h"

#include "PortAnswer.h"

#include <chrono>
#include <cstdint>
#include <string>

namespace fastboot {

// What the engine knows of one port: what its monitor last saw there and
// the unit the tool was offered. The monitor thread feeds it observations;
// QueryDevice reads its answer. Plain data, no locking and no I/O: the
// engine guards it.
//
// A unit is known by its serial number and IMEI. Once offered, it keeps its
// identity as the answer while it stays in its socket, also while it boots
// after the engine rebooted it (the hold), so the tool keeps the row as the
// download left it. A unit that leaves, or another one in its place, is
// answered as an empty port once before anything else.
class PortPresence final
{
public:
    using Clock = std::chrono::steady_clock;

    struct Observation
    {
        enum class Kind {
            Empty,       // nothing enumerated / the endpoint does not answer
            Unit,        // a fastboot device whose identity was read
            NotFastboot, // USB: enumerated without a fastboot interface
            BootRom,     // USB: a boot-ROM download mode
            NotReady,    // there, but not to be had (permission, busy, bad answers)
        };
        Kind kind = Kind::Empty;
        DeviceIdentity identity; // Unit
        std::string why;         // NotFastboot, NotReady: the operator's text
    };

    using Answer = engine::PortAnswer;

    // The not-ready statuses (the tool shows any of them as ARM mode).
    static constexpr int32_t kBootRom = 1;
    static constexpr int32_t kNotReady = 2;
    static constexpr int32_t kNotFastboot = 3;

    // How the hold is measured: over USB from the reboot command, over TCP
    // from the first probe that found the endpoint silent after it.
    enum class HoldFrom { Reboot, Silence };

    explicit PortPresence(HoldFrom holdFrom = HoldFrom::Reboot) : m_holdFrom(holdFrom) {}

    // Takes what the monitor saw; true when the answer changed.
    bool observe(const Observation& seen, Clock::time_point now, std::chrono::seconds hold);
    // The engine sent the unit in the port a reboot command.
    void rebooted(Clock::time_point now);
    // QueryDevice's answer. An empty answer owed once is given (and
    // settled) here; *settled then tells the caller to raise the device
    // event again, so that the tool hears of what is there now.
    Answer answer(bool* settled = nullptr);
    // What is there, for EnumeratePorts (an owed empty answer aside).
    bool occupied() const { return m_state != State::Empty; }
    // A unit is known: identity reads may be skipped until it leaves.
    bool knowsUnit() const { return m_state == State::Unit; }

    // The key a unit is known by.
    static std::string unitKey(const DeviceIdentity& identity);

private:
    enum class State { Empty, Unit, NotReady };

    Answer current() const;
    void leaveUnit();

    HoldFrom m_holdFrom;
    State m_state = State::Empty;
    bool m_emptyOwed = false;
    int32_t m_notReadyStatus = 1;
    std::string m_message;
    std::string m_key;       // the unit's serial and IMEI
    DeviceIdentity m_shown;  // the identity the unit was offered with
    bool m_rebooted = false; // the engine rebooted the unit
    bool m_holding = false;  // the hold's clock runs
    Clock::time_point m_holdStart;
};

} // namespace fastboot

#pragma once

#include "ModuleIdentity.h"

#include "PortAnswer.h"

#include <chrono>
#include <cstdint>
#include <string>

namespace modem {

// What the modem engine knows of one port: what its monitor last saw there
// and the module the tool was offered. Plain data, no locking and no I/O:
// the engine guards it.
//
// A module in normal mode is offered with its identity, a chip in download
// mode with an empty one (a blank board, for DLMode=1). Once offered, the
// module keeps that answer while it stays, also while the engine has it
// away in download mode or resetting (the hold), and whatever comes back in
// its socket after the engine's reset is the same module: the tool keeps the
// row as the download left it. A module that leaves, or another one in its
// place, is answered as an empty port once before anything else.
class ModulePresence final
{
public:
    using Clock = std::chrono::steady_clock;

    struct Observation
    {
        enum class Kind {
            Empty,    // nothing in the socket
            Module,   // normal mode, identity read
            Download, // a chip in download mode
            NotReady, // there, but not to be had (AT silent, another device)
        };
        Kind kind = Kind::Empty;
        ModuleIdentity identity; // Module
        std::string why;         // NotReady: the operator's text
    };

    using Answer = engine::PortAnswer;

    // The not-ready status (the tool shows it as ARM mode).
    static constexpr int32_t kNotReady = 2;

    // Takes what the monitor saw; true when the answer changed.
    bool observe(const Observation& seen, Clock::time_point now, std::chrono::seconds hold);
    // The engine switched or reset the module: it may be away for the hold.
    void away(Clock::time_point now);
    // QueryDevice's answer; an empty answer owed once is given here, and
    // *settled tells the caller to raise the device event again.
    Answer answer(bool* settled = nullptr);
    bool occupied() const { return m_state != State::Empty; }

private:
    enum class State { Empty, Module, NotReady };

    Answer current() const;
    void leave();
    static std::string keyOf(const Observation& seen);

    State m_state = State::Empty;
    bool m_emptyOwed = false;
    std::string m_message;
    std::string m_key;   // IMEI, or what a module without one shows
    std::string m_shown; // the identity it was offered with
    bool m_away = false; // the engine sent it away (switch, reset)
    Clock::time_point m_awaySince;
};

} // namespace modem

#include "PortPresence.h"

namespace fastboot {

std::string PortPresence::unitKey(const DeviceIdentity& identity)
{
    // Without serial and IMEI a unit is told from another by what it shows.
    if (identity.serial.empty() && identity.imei.empty())
        return '\n' + identity.display + '\n' + identity.internal;
    return identity.serial + '\n' + identity.imei;
}

void PortPresence::rebooted(Clock::time_point now)
{
    if (m_state != State::Unit)
        return;
    m_rebooted = true;
    m_holding = m_holdFrom == HoldFrom::Reboot;
    m_holdStart = now;
}

bool PortPresence::observe(const Observation& seen, Clock::time_point now, std::chrono::seconds hold)
{
    const Answer before = current();
    const bool owedBefore = m_emptyOwed;
    using Kind = Observation::Kind;
    switch (seen.kind) {
    case Kind::Unit: {
        const std::string key = unitKey(seen.identity);
        if (m_state == State::Unit && key == m_key)
            break; // the same unit: it keeps the identity it was offered with
        leaveUnit();
        m_state = State::Unit;
        m_key = key;
        m_shown = seen.identity;
        break;
    }
    case Kind::Empty:
        if (m_state == State::Unit && m_rebooted) {
            if (!m_holding) {
                m_holding = true;
                m_holdStart = now;
            }
            if (now - m_holdStart < hold)
                break; // rebooting: still the unit's socket
        }
        leaveUnit();
        m_state = State::Empty;
        m_emptyOwed = false; // the answer is empty anyway
        break;
    case Kind::NotFastboot:
        // A unit the engine rebooted runs its system now: it stays for as
        // long as something is enumerated in its socket.
        if (m_state == State::Unit && m_rebooted)
            break;
        [[fallthrough]];
    case Kind::BootRom:
    case Kind::NotReady:
        leaveUnit();
        m_state = State::NotReady;
        m_notReadyStatus = seen.kind == Kind::BootRom ? kBootRom
                           : seen.kind == Kind::NotFastboot ? kNotFastboot
                                                            : kNotReady;
        m_message = seen.why;
        break;
    }
    return m_emptyOwed != owedBefore || !(current() == before);
}

void PortPresence::leaveUnit()
{
    if (m_state == State::Unit)
        m_emptyOwed = true; // the tool hears that the unit left before anything else
    m_key.clear();
    m_shown = {};
    m_rebooted = false;
    m_holding = false;
}

PortPresence::Answer PortPresence::answer(bool* settled)
{
    if (settled)
        *settled = m_emptyOwed;
    if (m_emptyOwed) {
        m_emptyOwed = false;
        return {};
    }
    return current();
}

PortPresence::Answer PortPresence::current() const
{
    switch (m_state) {
    case State::Empty:
        return {};
    case State::Unit:
        return {0, m_shown.joined(), {}};
    case State::NotReady:
        return {m_notReadyStatus, {}, m_message};
    }
    return {};
}

} // namespace fastboot

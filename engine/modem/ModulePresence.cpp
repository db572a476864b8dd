#include "ModulePresence.h"

namespace modem {

std::string ModulePresence::keyOf(const Observation& seen)
{
    if (seen.kind == Observation::Kind::Download)
        return "\ndownload";
    if (!seen.identity.imei.empty())
        return seen.identity.imei;
    return '\n' + seen.identity.display + '\n' + seen.identity.internal;
}

void ModulePresence::away(Clock::time_point now)
{
    if (m_state != State::Module)
        return;
    m_away = true;
    m_awaySince = now;
}

bool ModulePresence::observe(const Observation& seen, Clock::time_point now, std::chrono::seconds hold)
{
    const Answer before = current();
    const bool owedBefore = m_emptyOwed;
    using Kind = Observation::Kind;
    switch (seen.kind) {
    case Kind::Module:
    case Kind::Download: {
        const std::string key = keyOf(seen);
        if (m_state == State::Module && (key == m_key || m_away)) {
            // The same module, or what came back after the engine's reset;
            // back in normal mode, it is at home again.
            m_key = key;
            if (seen.kind == Kind::Module)
                m_away = false;
            break;
        }
        leave();
        m_state = State::Module;
        m_key = key;
        m_shown = seen.kind == Kind::Module ? seen.identity.joined() : ModuleIdentity().joined();
        break;
    }
    case Kind::Empty:
        if (m_state == State::Module && m_away && now - m_awaySince < hold)
            break; // on its way back
        leave();
        m_state = State::Empty;
        m_emptyOwed = false; // the answer is empty anyway
        break;
    case Kind::NotReady:
        // Still booting after the reset: its tty does not answer yet.
        if (m_state == State::Module && m_away && now - m_awaySince < hold)
            break;
        leave();
        m_state = State::NotReady;
        m_message = seen.why;
        break;
    }
    return m_emptyOwed != owedBefore || !(current() == before);
}

void ModulePresence::leave()
{
    if (m_state == State::Module)
        m_emptyOwed = true;
    m_key.clear();
    m_shown.clear();
    m_away = false;
}

ModulePresence::Answer ModulePresence::answer(bool* settled)
{
    if (settled)
        *settled = m_emptyOwed;
    if (m_emptyOwed) {
        m_emptyOwed = false;
        return {};
    }
    return current();
}

ModulePresence::Answer ModulePresence::current() const
{
    switch (m_state) {
    case State::Empty:
        return {};
    case State::Module:
        return {0, m_shown, {}};
    case State::NotReady:
        return {kNotReady, {}, m_message};
    }
    return {};
}

} // namespace modem

#include "AtPort.h"

#include "AtReply.h"

namespace modem {

AtPort::AtPort(PacketLink& tty, size_t replyLimit)
    : m_tty(tty)
    , m_limit(replyLimit)
{
}

// Bytes left over from an earlier command (a late reply, an unsolicited
// line) would be read as this command's reply; they are dropped first, up
// to the buffer limit.
void AtPort::drainStale()
{
    char buffer[512];
    size_t dropped = 0;
    while (dropped < m_limit) {
        size_t got = 0;
        if (m_tty.receive(buffer, sizeof buffer, &got, Clock::now()) != IoStatus::Ok || got == 0)
            return;
        dropped += got;
    }
}

AtResult AtPort::command(const std::string& command, Clock::time_point deadline)
{
    AtResult result;
    drainStale();
    const std::string line = command + "\r";
    const IoStatus sent = m_tty.send(line.data(), line.size(), deadline);
    if (sent != IoStatus::Ok) {
        result.status = sent == IoStatus::Timeout ? AtResult::Status::Silent : AtResult::Status::LinkLost;
        result.text = "could not send " + command + ": " + (m_tty.lastError().empty() ? ioStatusText(sent) : m_tty.lastError());
        return result;
    }

    std::string raw;
    char buffer[512];
    for (;;) {
        size_t got = 0;
        const IoStatus status = m_tty.receive(buffer, sizeof buffer, &got, deadline);
        if (status == IoStatus::Timeout) {
            result.status = AtResult::Status::Silent;
            result.text = "no reply to " + command;
            return result;
        }
        if (status != IoStatus::Ok) {
            result.status = AtResult::Status::LinkLost;
            result.text = "tty failed during " + command + ": " + (m_tty.lastError().empty() ? ioStatusText(status) : m_tty.lastError());
            return result;
        }
        raw.append(buffer, got);
        const AtReply reply = AtReply::parse(command, raw);
        if (reply.kind == AtReply::Kind::Ok) {
            result.status = AtResult::Status::Ok;
            result.value = reply.value;
            return result;
        }
        if (reply.kind == AtReply::Kind::Error) {
            result.status = AtResult::Status::Error;
            return result;
        }
        if (raw.size() > m_limit) {
            result.status = AtResult::Status::Flood;
            result.text = "reply to " + command + " exceeds " + std::to_string(m_limit) + " bytes without an end";
            return result;
        }
    }
}

} // namespace modem

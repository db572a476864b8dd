#include "FirehoseHost.h"

#include <algorithm>
#include <charconv>

namespace modem {

namespace {

constexpr size_t kKeptLogs = 16;
constexpr uint64_t kLargestPayload = 64ull * 1024 * 1024;

uint64_t numberOf(const std::string& text)
{
    uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() ? value : 0;
}

} // namespace

FirehoseHost::FirehoseHost(PacketLink& link, Timeouts timeouts, LogSink onLog)
    : m_link(link)
    , m_timeouts(timeouts)
    , m_onLog(std::move(onLog))
{
}

bool FirehoseHost::fail(ModemFailure::Kind kind, std::string text)
{
    if (!m_failure) {
        m_failure.kind = kind;
        m_failure.text = std::move(text);
    }
    return false;
}

bool FirehoseHost::linkFailed(IoStatus status, const std::string& during)
{
    std::string text = "Firehose: " + during + ": ";
    text += m_link.lastError().empty() ? ioStatusText(status) : m_link.lastError();
    return fail(status == IoStatus::Timeout ? ModemFailure::Kind::Timeout : ModemFailure::Kind::ConnectionLost, text);
}

bool FirehoseHost::nak(const std::string& during)
{
    std::string text = "The programmer refused " + during;
    for (size_t i = 0; i < m_recentLogs.size(); ++i)
        text += (i == 0 ? ": " : "; ") + m_recentLogs[i];
    return fail(ModemFailure::Kind::FirehoseNak, text);
}

bool FirehoseHost::awaitAnswer(std::chrono::milliseconds timeout, const std::string& during, Answer* answer)
{
    const Clock::time_point deadline = Clock::now() + timeout;
    std::vector<char> buffer(kReplyLimit);
    for (;;) {
        size_t got = 0;
        const IoStatus status = m_link.receive(buffer.data(), buffer.size(), &got, deadline);
        if (status == IoStatus::TooLarge)
            return fail(ModemFailure::Kind::Protocol, "Firehose: oversized reply during " + during);
        if (status != IoStatus::Ok)
            return linkFailed(status, "waiting for the answer to " + during);
        if (got == 0)
            continue;
        FirehoseReply reply;
        std::string why;
        if (!FirehoseReply::parse(buffer.data(), got, &reply, &why))
            return fail(ModemFailure::Kind::Protocol, "Firehose: " + why + " (during " + during + ")");
        for (const std::string& line : reply.logs) {
            if (m_onLog)
                m_onLog(line);
            if (m_recentLogs.size() == kKeptLogs)
                m_recentLogs.erase(m_recentLogs.begin());
            m_recentLogs.push_back(line);
        }
        if (!reply.responses.empty()) {
            *answer = std::move(reply.responses.front());
            return true;
        }
    }
}

bool FirehoseHost::exchange(const std::string& command, const std::string& during, Answer* answer)
{
    m_recentLogs.clear();
    const IoStatus status = sendTransfer(m_link, command.data(), command.size(), Clock::now() + m_timeouts.command);
    if (status != IoStatus::Ok)
        return linkFailed(status, "sending " + during);
    return awaitAnswer(m_timeouts.command, during, answer);
}

bool FirehoseHost::configure(const std::string& memoryName, uint64_t maxPayload)
{
    uint64_t offer = std::min(maxPayload, kLargestPayload);
    for (int attempt = 0; attempt < 2; ++attempt) {
        Answer answer;
        if (!exchange(FirehoseCommand::configure(memoryName, offer), "configure", &answer))
            return false;
        if (answer.ack) {
            const uint64_t taken = numberOf(answer.attribute("MaxPayloadSizeToTargetInBytes"));
            m_payload = taken > 0 && taken < offer ? taken : offer;
            return true;
        }
        uint64_t supported = numberOf(answer.attribute("MaxPayloadSizeToTargetInBytesSupported"));
        if (supported == 0)
            supported = numberOf(answer.attribute("MaxPayloadSizeToTargetInBytes"));
        if (supported == 0 || supported >= offer)
            break;
        offer = supported;
    }
    return nak("configure (" + memoryName + ", payload " + std::to_string(offer) + " bytes)");
}

bool FirehoseHost::program(const ProgramEntry& entry, uint64_t numSectors, const DataSource& source,
                           const Progress& progress)
{
    const std::string during = "program of " + (entry.label.empty() ? entry.filename : entry.label);
    const uint64_t chunk = m_payload / entry.sectorSize * entry.sectorSize;
    if (chunk == 0)
        return fail(ModemFailure::Kind::BadPackage,
                    "sector size " + std::to_string(entry.sectorSize) + " exceeds the device's payload");
    Answer answer;
    if (!exchange(FirehoseCommand::program(entry, numSectors), during, &answer))
        return false;
    if (!answer.ack)
        return nak(during);

    std::vector<char> buffer(size_t(std::min<uint64_t>(chunk, numSectors * entry.sectorSize)));
    uint64_t left = numSectors * entry.sectorSize;
    while (left > 0) {
        const size_t size = size_t(std::min<uint64_t>(chunk, left));
        std::string why;
        if (!source(buffer.data(), size, &why))
            return fail(ModemFailure::Kind::BadPackage, why);
        const IoStatus status = sendTransfer(m_link, buffer.data(), size, Clock::now() + m_timeouts.data);
        if (status != IoStatus::Ok) {
            // A programmer that gives up mid-transfer may have said why.
            Answer late;
            if (status == IoStatus::Timeout && awaitAnswer(std::chrono::milliseconds(0), during, &late) && !late.ack)
                return nak(during);
            m_failure = {};
            return linkFailed(status, "sending data for " + during);
        }
        left -= size;
        if (progress)
            progress(size);
    }
    if (!awaitAnswer(m_timeouts.finish, during, &answer))
        return false;
    return answer.ack || nak(during);
}

bool FirehoseHost::patch(const PatchEntry& entry)
{
    Answer answer;
    const std::string during = "patch " + (entry.what.empty() ? entry.value : entry.what);
    if (!exchange(FirehoseCommand::patch(entry), during, &answer))
        return false;
    return answer.ack || nak(during);
}

bool FirehoseHost::power(const std::string& value)
{
    Answer answer;
    if (!exchange(FirehoseCommand::power(value), "power " + value, &answer))
        return false;
    return answer.ack || nak("power " + value);
}

} // namespace modem

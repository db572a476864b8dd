#pragma once

#include "FirehoseXml.h"
#include "FlashEntries.h"
#include "ModemFailure.h"
#include "PacketLink.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace modem {

// The host side of Firehose over any PacketLink: XML commands, raw sector
// data in payloads of the negotiated size, and the programmer's <log> lines
// passed on as they come.
class FirehoseHost final
{
public:
    struct Timeouts
    {
        std::chrono::milliseconds command{10000}; // one command's response
        std::chrono::milliseconds data{30000};    // one payload of sector data
        std::chrono::milliseconds finish{120000}; // the answer after all data of a program
    };
    // Fills exactly size bytes, or says why not in *why.
    using DataSource = std::function<bool(char* buffer, size_t size, std::string* why)>;
    using LogSink = std::function<void(const std::string& line)>;
    using Progress = std::function<void(uint64_t bytes)>;

    static constexpr size_t kReplyLimit = 64 * 1024;

    FirehoseHost(PacketLink& link, Timeouts timeouts, LogSink onLog);

    // configure, offering maxPayload; on a NAK that names a size the device
    // supports, once more with that size.
    bool configure(const std::string& memoryName, uint64_t maxPayload);
    uint64_t payloadSize() const { return m_payload; }

    // One <program> of numSectors sectors; data comes from the source in
    // payloads, progress gets the bytes of each payload sent.
    bool program(const ProgramEntry& entry, uint64_t numSectors, const DataSource& source, const Progress& progress = {});
    bool patch(const PatchEntry& entry);
    bool power(const std::string& value);

    const ModemFailure& failure() const { return m_failure; }

private:
    using Answer = FirehoseReply::Response;

    bool exchange(const std::string& command, const std::string& during, Answer* answer);
    bool awaitAnswer(std::chrono::milliseconds timeout, const std::string& during, Answer* answer);
    bool nak(const std::string& during);
    bool fail(ModemFailure::Kind kind, std::string text);
    bool linkFailed(IoStatus status, const std::string& during);

    PacketLink& m_link;
    Timeouts m_timeouts;
    LogSink m_onLog;
    uint64_t m_payload = 0;
    std::vector<std::string> m_recentLogs; // since the last command, for a NAK's message
    ModemFailure m_failure;
};

} // namespace modem

#pragma once

#include "FlashEntries.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace modem {

// The host's Firehose commands: one XML document each.
struct FirehoseCommand
{
    static std::string configure(const std::string& memoryName, uint64_t maxPayload);
    static std::string program(const ProgramEntry& entry, uint64_t numSectors);
    static std::string patch(const PatchEntry& entry);
    static std::string power(const std::string& value);
};

// What one packet from the programmer said: any number of <log> lines and
// <response> elements, in one or several XML documents.
struct FirehoseReply
{
    struct Response
    {
        bool ack = false;
        bool rawMode = false;
        std::map<std::string, std::string> attributes;
        std::string attribute(const std::string& name) const;
    };

    std::vector<std::string> logs;
    std::vector<Response> responses;

    // False (with *why) for bytes that are not XML of that shape.
    static bool parse(const char* data, size_t size, FirehoseReply* out, std::string* why);
};

// A start sector as rawprogram files give it: digits, or
// "NUM_DISK_SECTORS-<digits>." counted from the end of the disk.
bool isStartSector(const std::string& text);

} // namespace modem

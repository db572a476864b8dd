#pragma once

#include "ModuleSettings.h"

#include <cstdint>
#include <functional>
#include <string>

namespace pugi {
class xml_node;
}

namespace modemdevice {

// The programmer of an emulated module once Sahara has started it: Firehose
// configure, program (sector data written to lunN.img files), patch and
// power, with the refusals of ModuleSettings.
class FirehoseTarget final
{
public:
    using Send = std::function<bool(const std::string& bytes)>;
    enum class Next { Continue, Stall, Reset, Drop };

    Next receive(const ModuleSettings& settings, const char* data, size_t size, const Send& send);

    // Counters for tests.
    int configures() const { return m_configures; }
    uint64_t payload() const { return m_payload; }
    int zeroLengthPackets() const { return m_zlps; }
    int missingZeroLengthPackets() const { return m_missingZlps; }
    int oversizedPayloads() const { return m_oversized; }
    uint64_t dataBytes() const { return m_dataBytes; }

    static std::string lunPath(const ModuleSettings& settings, uint32_t partition);
    // A start sector or patch value: digits or NUM_DISK_SECTORS-N.
    static bool evaluate(const std::string& text, uint64_t diskSectors, uint64_t* value);
    // The CRC-32 that patch values of the form CRC32(sector,bytes) ask for.
    static uint32_t crc32(const char* data, size_t size);

private:
    Next command(const ModuleSettings& settings, const char* data, size_t size, const Send& send);
    Next data(const ModuleSettings& settings, const char* data, size_t size, const Send& send);
    void configure(const ModuleSettings& settings, const pugi::xml_node& node, const Send& send);
    void program(const ModuleSettings& settings, const pugi::xml_node& node, const Send& send);
    void patch(const ModuleSettings& settings, const pugi::xml_node& node, const Send& send);
    void respond(const Send& send, bool ack, const std::string& log = {}, const std::string& extra = {});
    bool patchValue(const ModuleSettings& settings, uint32_t partition, uint64_t sectorSize, const std::string& text,
                    uint64_t* value) const;
    bool writeAt(const ModuleSettings& settings, uint32_t partition, uint64_t offset, const char* data, size_t size);

    bool m_configured = false;
    bool m_zlpAware = false;
    bool m_expectZlp = false;
    uint64_t m_payload = 0;
    // The program being received.
    uint64_t m_remaining = 0;
    uint64_t m_writeOffset = 0;
    uint32_t m_partition = 0;
    bool m_stopped = false;
    int m_configures = 0;
    int m_zlps = 0;
    int m_missingZlps = 0;
    int m_oversized = 0;
    uint64_t m_dataBytes = 0;
};

} // namespace modemdevice

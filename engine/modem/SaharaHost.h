#pragma once

#include "ModemFailure.h"
#include "PacketLink.h"
#include "SaharaPacket.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace modem {

// The chip as Sahara's command mode describes it.
struct ChipIdentity
{
    std::string serial;     // "0x1a2b3c4d"
    std::string hardwareId; // "0x000a50e100000000"
};

// The host side of Sahara: answers the boot ROM's hello, reads the chip's
// identity in command mode when asked, and hands over the programmer as the
// ROM reads it (32- and 64-bit read requests), up to done.
class SaharaHost final
{
public:
    using Progress = std::function<void(uint64_t sent, uint64_t total)>;

    SaharaHost(PacketLink& link, std::chrono::milliseconds timeout);

    // From the ROM's first hello: command mode, serial number and hardware
    // id, then back to image transfer (the ROM says hello again).
    bool readIdentity(ChipIdentity* identity);
    // Serves the programmer until the ROM says done.
    bool sendProgrammer(const std::string& programmer, const Progress& progress = {});

    const ModemFailure& failure() const { return m_failure; }

private:
    bool receive(SaharaPacket* packet, const char* during);
    bool send(const std::string& bytes, const char* during);
    bool expect(uint32_t command, SaharaPacket* packet, const char* during);
    bool executeClient(uint32_t clientCommand, std::string* data);
    bool serveRead(const SaharaPacket& request, const std::string& programmer);
    bool fail(ModemFailure::Kind kind, std::string text);
    bool linkFailed(IoStatus status, const char* during);

    PacketLink& m_link;
    std::chrono::milliseconds m_timeout;
    ModemFailure m_failure;
};

} // namespace modem

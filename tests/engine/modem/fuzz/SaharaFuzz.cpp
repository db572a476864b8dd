// Fuzz target for the Sahara packet parser, and for the host fed a stream
// of such packets. Built with libFuzzer under clang; under g++ a replay of
// the corpus runs as a test.
#include "FuzzLink.h"
#include "SaharaHost.h"
#include "SaharaPacket.h"

#include <cstdint>
#include <string>

using namespace modem;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    SaharaPacket packet;
    std::string why;
    if (SaharaPacket::parse(data, size, &packet, &why)) {
        // Only packets of exactly their command's size get through, and the
        // fixed-layout ones encode back to the same bytes.
        if (packet.length != size || SaharaPacket::sizeOf(packet.command) != size)
            __builtin_trap();
        const std::string input(reinterpret_cast<const char*>(data), size);
        std::string again;
        if (packet.command == SaharaPacket::ReadData)
            again = SaharaPacket::readData(uint32_t(packet.image), uint32_t(packet.offset), uint32_t(packet.size));
        else if (packet.command == SaharaPacket::ReadData64)
            again = SaharaPacket::readData64(packet.image, packet.offset, packet.size);
        else if (packet.command == SaharaPacket::EndOfImage)
            again = SaharaPacket::endOfImage(uint32_t(packet.image), packet.status);
        else if (packet.command == SaharaPacket::ExecuteResponse)
            again = SaharaPacket::executeResponse(packet.clientCommand, packet.dataLength);
        if (!again.empty() && again != input)
            __builtin_trap();
    } else if (why.empty()) {
        __builtin_trap();
    }

    // The host over a stream of packets: it ends, and says why when it fails.
    FuzzLink link(data, size, 512);
    SaharaHost host(link, std::chrono::milliseconds(0));
    ChipIdentity chip;
    const std::string programmer(3000, 'p');
    const bool identified = size > 0 && data[0] & 1 ? host.readIdentity(&chip) : true;
    const bool sent = identified && host.sendProgrammer(programmer);
    if (!sent && host.failure().text.empty())
        __builtin_trap();
    return 0;
}

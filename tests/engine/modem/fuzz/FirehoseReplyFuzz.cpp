// Fuzz target for the Firehose reply parser, and for the host fed a stream
// of replies through configure, a program, a patch and power.
#include "FirehoseHost.h"
#include "FirehoseXml.h"
#include "FuzzLink.h"

#include <cstdint>
#include <string>

using namespace modem;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FirehoseReply reply;
    std::string why;
    if (!FirehoseReply::parse(reinterpret_cast<const char*>(data), size, &reply, &why) && why.empty())
        __builtin_trap();
    for (const FirehoseReply::Response& response : reply.responses) {
        if (response.ack != (response.attribute("value") == "ACK"))
            __builtin_trap();
    }

    FuzzLink link(data, size, 512);
    const std::chrono::milliseconds none(0);
    FirehoseHost host(link, {none, none, none}, {});
    ProgramEntry entry;
    entry.startSector = "0";
    entry.label = "fuzz";
    uint64_t given = 0;
    const auto source = [&](char* buffer, size_t n, std::string*) {
        for (size_t i = 0; i < n; ++i)
            buffer[i] = char(i);
        given += n;
        return true;
    };
    PatchEntry patch;
    patch.filename = "DISK";
    patch.startSector = "0";
    patch.value = "0";
    const bool ok = host.configure("emmc", 4096) && host.program(entry, 9, source) && host.patch(patch)
        && host.power("reset");
    if (!ok && host.failure().text.empty())
        __builtin_trap();
    // Never more data than the program announced, never a payload above the offer.
    if (given > 9 * 512 || host.payloadSize() > 4096)
        __builtin_trap();
    return 0;
}

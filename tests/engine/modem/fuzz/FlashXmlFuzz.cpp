// Fuzz target for the rawprogram/patch reader.
#include "FirehoseXml.h"
#include "FlashXmlFile.h"

#include <cstdint>
#include <string>

using namespace modem;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FlashXmlFile file;
    std::string why;
    if (!FlashXmlFile::parse(reinterpret_cast<const char*>(data), size, "rawprogram0.xml", &file, &why)) {
        // Every fault names the file.
        if (why.rfind("rawprogram0.xml", 0) != 0)
            __builtin_trap();
        return 0;
    }
    for (const ProgramEntry& entry : file.programs) {
        const uint32_t s = entry.sectorSize;
        if (s < 512 || (s & (s - 1)) != 0 || !isStartSector(entry.startSector) || entry.line < 1)
            __builtin_trap();
        // What is read can be sent: the command is well-formed XML.
        const std::string command = FirehoseCommand::program(entry, entry.numSectors);
        if (command.find("<program ") == std::string::npos)
            __builtin_trap();
    }
    for (const PatchEntry& entry : file.patches) {
        if (entry.forDevice() && (entry.sizeInBytes < 1 || entry.sizeInBytes > 8 || !isStartSector(entry.startSector)))
            __builtin_trap();
    }
    return 0;
}

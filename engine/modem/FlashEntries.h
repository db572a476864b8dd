#pragma once

#include <cstdint>
#include <string>

namespace modem {

// One <program> of a rawprogram file.
struct ProgramEntry
{
    uint32_t sectorSize = 512;        // SECTOR_SIZE_IN_BYTES
    uint64_t fileSectorOffset = 0;    // file_sector_offset: where in the file the data starts
    std::string filename;             // empty: the entry only describes the layout
    std::string label;
    uint64_t numSectors = 0;          // num_partition_sectors (0: as the file needs)
    uint32_t partition = 0;           // physical_partition_number
    std::string startSector;          // a number, or "NUM_DISK_SECTORS-N."
    bool sparse = false;              // sparse="true": an image in sparse format
    int line = 0;                     // where in its XML file
};

// One <patch> of a patch file.
struct PatchEntry
{
    uint32_t sectorSize = 512;
    uint64_t byteOffset = 0;
    std::string filename; // "DISK" patches the device; other names a host file
    uint32_t partition = 0;
    uint32_t sizeInBytes = 0;
    std::string startSector;
    std::string value; // the device evaluates it ("NUM_DISK_SECTORS-34.", "CRC32(...)")
    std::string what;
    int line = 0;

    bool forDevice() const { return filename == "DISK"; }
};

} // namespace modem

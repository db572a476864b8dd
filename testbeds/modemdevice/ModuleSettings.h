#pragma once

#include <cstdint>
#include <string>

namespace modemdevice {

// What an emulated module is and how it misbehaves.
struct ModuleSettings
{
    // Normal mode: the AT tty.
    std::string imei;              // AT+CGSN
    std::string revision;          // AT+CGMR, until a reset finds a new one
    bool echo = false;             // echo each command line back, as ATE1
    bool quoted = false;           // +CGSN: "..." and +CGMR: "..." instead of bare lines
    std::string switchCommand;     // the maker's command to enter download mode ("" none)
    bool silent = false;           // the tty never answers

    // On the emulated USB hub.
    uint16_t vendor = 0x1209;      // normal mode's USB id (download mode is 05c6:9008)
    uint16_t product = 0x0001;
    int atInterface = 2;           // the interface (of 0..2) whose tty answers AT
    int rebootMillis = 0;          // time away from the bus when the mode changes

    // Download mode: Sahara.
    bool startInDownload = false;  // a blank board
    std::string programmer;        // the bytes the chip accepts as its programmer
    uint32_t readChunk = 4096;     // bytes per read request
    bool read64 = false;           // 64-bit read requests
    uint32_t serial = 0x1a2b3c4d;
    uint64_t hardwareId = 0x000a50e100000000ull;

    // Download mode: Firehose.
    std::string storage = "emmc";  // the MemoryName it has
    uint64_t maxPayload = 1024 * 1024; // the largest payload it supports
    std::string failLabel;         // a <program> of this label is refused
    uint64_t stopAfter = 0;        // stop reading after this many data bytes (0: never)
    uint64_t dropAfter = 0;        // leave the bus after this many data bytes (0: never)
    uint64_t diskSectors = 1u << 20; // per physical partition, for NUM_DISK_SECTORS
    size_t packetSize = 512;       // the bulk endpoint's packet size, for zero-length packets
    std::string storageDir;        // physical partition N is written to lunN.img here
    std::string revisionMarker = "MODEM_REVISION="; // a reset reads the new revision after this
};

} // namespace modemdevice

#pragma once

#include "FlashEntries.h"

#include <cstddef>
#include <string>
#include <vector>

namespace modem {

// A rawprogram or patch file of a package: its <program> and <patch>
// entries in file order. Every fault names the file and the XML line.
struct FlashXmlFile
{
    std::vector<ProgramEntry> programs;
    std::vector<PatchEntry> patches;

    static bool parse(const char* data, size_t size, const std::string& name, FlashXmlFile* out, std::string* why);
    static bool read(const std::string& path, const std::string& name, FlashXmlFile* out, std::string* why);
};

} // namespace modem

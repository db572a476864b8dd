#pragma once

#include "FlashEntries.h"
#include "SparseImage.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace modem {

// Which files of a package to use; empty lists mean the defaults: the one
// prog_*.mbn/.elf/.melf, every rawprogram*.xml and patch*.xml in name order.
struct PackageChoice
{
    std::string programmer;
    std::vector<std::string> rawprogram;
    std::vector<std::string> patch;
};

// A modem package read and checked before anything touches the module: the
// programmer, every write of the rawprogram files with its image resolved
// inside the package, and the device patches, in order.
class FlashPackage final
{
public:
    struct Write
    {
        ProgramEntry entry;
        std::string source;   // "rawprogram0.xml:12", for messages
        std::string path;     // the image, resolved inside the package
        uint64_t fileOffset;  // where its data starts in the file
        uint64_t fileBytes;   // bytes taken from the file; the rest of the last sector is zeros
        uint64_t sectors;     // sectors written
        // sparse="true" with the sparse magic: the image expanded (don't-care
        // blocks as zeros); fileBytes is then its expanded size.
        std::shared_ptr<const engine::Sparse::Layout> sparse;

        uint64_t bytes() const { return sectors * entry.sectorSize; }
    };

    static bool load(const std::string& folder, const PackageChoice& choice, FlashPackage* out, std::string* why);

    // name resolved inside folder, symlinks followed, a regular file.
    static bool resolve(const std::string& folder, const std::string& name, std::string* path, std::string* why);

    const std::string& programmerPath() const { return m_programmer; }
    const std::vector<Write>& writes() const { return m_writes; }
    const std::vector<PatchEntry>& patches() const { return m_patches; }
    uint64_t totalBytes() const;

private:
    bool addWrites(const std::string& folder, const std::string& name, const std::vector<ProgramEntry>& entries,
                   std::string* why);

    std::string m_programmer;
    std::vector<Write> m_writes;
    std::vector<PatchEntry> m_patches;
};

} // namespace modem

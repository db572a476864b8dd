#include "FlashPackage.h"

#include "FlashXmlFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>

namespace modem {

namespace {

bool hasEnding(const std::string& text, const std::string& ending)
{
    return text.size() >= ending.size() && text.compare(text.size() - ending.size(), ending.size(), ending) == 0;
}

bool isProgrammerName(const std::string& name)
{
    return name.rfind("prog_", 0) == 0
        && (hasEnding(name, ".mbn") || hasEnding(name, ".elf") || hasEnding(name, ".melf"));
}

// The regular files of the folder itself whose names pass the test, sorted.
std::vector<std::string> filesNamed(const std::string& folder, bool (*test)(const std::string&))
{
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        if (test(name))
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool isRawprogram(const std::string& name) { return name.rfind("rawprogram", 0) == 0 && hasEnding(name, ".xml"); }
bool isPatch(const std::string& name) { return name.rfind("patch", 0) == 0 && hasEnding(name, ".xml"); }

std::string realPath(const std::string& path)
{
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}

// The layout of a sparse image; null for a plain one (sparse="true" on an
// image without the magic is written as it is).
bool readSparse(const std::string& path, uint64_t size, std::shared_ptr<const engine::Sparse::Layout>* layout,
                std::string* why)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *why = "cannot be opened";
        return false;
    }
    const engine::Sparse::ReadAt readAt = [fd](uint64_t offset, void* out, size_t n) {
        return ::pread(fd, out, n, off_t(offset)) == ssize_t(n);
    };
    unsigned char magic[4];
    bool ok = true;
    if (size >= 4 && readAt(0, magic, 4) && engine::Sparse::hasMagic(magic)) {
        auto read = std::make_shared<engine::Sparse::Layout>();
        ok = engine::Sparse::readLayout(readAt, size, read.get(), why);
        if (ok)
            *layout = std::move(read);
    }
    ::close(fd);
    return ok;
}

} // namespace

bool FlashPackage::resolve(const std::string& folder, const std::string& name, std::string* path, std::string* why)
{
    const std::string root = realPath(folder);
    if (root.empty()) {
        *why = "package folder " + folder + " cannot be read";
        return false;
    }
    if (name.empty() || name[0] == '/') {
        *why = "\"" + name + "\" is not a file name inside the package";
        return false;
    }
    const std::string resolved = realPath(root + "/" + name);
    if (resolved.empty()) {
        *why = name + " is missing from the package";
        return false;
    }
    if (resolved.compare(0, root.size() + 1, root + "/") != 0) {
        *why = name + " leads outside the package";
        return false;
    }
    struct stat info;
    if (::stat(resolved.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        *why = name + " is not a regular file";
        return false;
    }
    *path = resolved;
    return true;
}

uint64_t FlashPackage::totalBytes() const
{
    uint64_t total = 0;
    for (const Write& write : m_writes)
        total += write.bytes();
    return total;
}

bool FlashPackage::addWrites(const std::string& folder, const std::string& name,
                             const std::vector<ProgramEntry>& entries, std::string* why)
{
    for (const ProgramEntry& entry : entries) {
        if (entry.filename.empty())
            continue; // describes the layout only
        const std::string where = name + ":" + std::to_string(entry.line);
        Write write{entry, where, {}, 0, 0, 0, nullptr};
        std::string problem;
        if (!resolve(folder, entry.filename, &write.path, &problem)) {
            *why = where + ": " + problem;
            return false;
        }
        struct stat info;
        if (::stat(write.path.c_str(), &info) != 0) {
            *why = where + ": " + entry.filename + " cannot be read";
            return false;
        }
        uint64_t size = uint64_t(info.st_size);
        const uint64_t sectorSize = entry.sectorSize;
        if (entry.sparse) {
            if (!readSparse(write.path, size, &write.sparse, &problem)) {
                *why = where + ": " + entry.filename + ": " + problem;
                return false;
            }
            if (write.sparse) {
                if (entry.fileSectorOffset != 0) {
                    *why = where + ": file_sector_offset cannot cut a sparse image";
                    return false;
                }
                size = uint64_t(write.sparse->blockSize) * write.sparse->totalBlocks;
            }
        }
        if (entry.fileSectorOffset > size / sectorSize) {
            *why = where + ": file_sector_offset lies beyond the end of " + entry.filename;
            return false;
        }
        write.fileOffset = entry.fileSectorOffset * sectorSize;
        const uint64_t available = size - write.fileOffset;
        write.sectors = available / sectorSize + (available % sectorSize ? 1 : 0);
        if (entry.numSectors > 0 && write.sectors > entry.numSectors) {
            if (entry.fileSectorOffset == 0) {
                *why = where + ": " + entry.filename + " (" + std::to_string(size) + " bytes) is larger than its "
                    + std::to_string(entry.numSectors) + " sectors";
                return false;
            }
            write.sectors = entry.numSectors; // one piece of a split image
        }
        write.fileBytes = std::min(available, write.sectors * sectorSize);
        if (write.sectors > 0)
            m_writes.push_back(std::move(write));
    }
    return true;
}

bool FlashPackage::load(const std::string& folder, const PackageChoice& choice, FlashPackage* out, std::string* why)
{
    FlashPackage package;
    std::string programmer = choice.programmer;
    if (programmer.empty()) {
        const std::vector<std::string> found = filesNamed(folder, isProgrammerName);
        if (found.size() != 1) {
            *why = found.empty() ? "the package has no programmer (prog_*.mbn, .elf or .melf)"
                                 : "the package has " + std::to_string(found.size())
                    + " programmers (" + found[0] + ", " + found[1] + "...): name one with PROGRAMMER=";
            return false;
        }
        programmer = found.front();
    }
    if (!resolve(folder, programmer, &package.m_programmer, why))
        return false;

    const std::vector<std::string> rawprograms = choice.rawprogram.empty() ? filesNamed(folder, isRawprogram) : choice.rawprogram;
    const std::vector<std::string> patches = choice.patch.empty() ? filesNamed(folder, isPatch) : choice.patch;
    if (rawprograms.empty()) {
        *why = "the package has no rawprogram*.xml";
        return false;
    }
    for (const std::string& name : rawprograms) {
        std::string path;
        FlashXmlFile file;
        if (!resolve(folder, name, &path, why) || !FlashXmlFile::read(path, name, &file, why)
            || !package.addWrites(folder, name, file.programs, why))
            return false;
    }
    for (const std::string& name : patches) {
        std::string path;
        FlashXmlFile file;
        if (!resolve(folder, name, &path, why) || !FlashXmlFile::read(path, name, &file, why))
            return false;
        for (const PatchEntry& entry : file.patches) {
            if (entry.forDevice())
                package.m_patches.push_back(entry);
        }
    }
    *out = std::move(package);
    return true;
}

} // namespace modem

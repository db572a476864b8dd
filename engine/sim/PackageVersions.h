#pragma once

#include <cstddef>
#include <string>

namespace sim {

// The display and internal versions of a software package: the values of the
// lines "ro.build.display.id=" and "ro.build.sw_internal_version=" of its
// system.img, each right after a line feed. The image is scanned in bounded
// blocks; it can be far larger than memory.
class PackageVersions final
{
public:
    // False when the file cannot be read or either line is missing.
    static bool read(const std::string& imagePath, std::string* display, std::string* internal,
                     size_t blockSize = 64 * 1024);

private:
    // Lines longer than this are no property lines.
    static constexpr size_t kMaxLine = 4096;
};

} // namespace sim

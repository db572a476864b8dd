#pragma once

#include <atomic>
#include <cstddef>
#include <string>

// Finds the two property lines of a version image:
//   "\nro.build.display.id=<display version>\n"
//   "\nro.build.sw_internal_version=<internal version>\n"
// A key counts only right after a line feed, so a key at offset 0 does not.
// The value is every byte after the key up to the next line feed; a carriage
// return before that line feed stays, zero bytes read as spaces. A value is
// cut at valueLimit bytes (the rest of its line is skipped); a value still
// open at the end of the file runs to the end of the file. When a key occurs
// more than once before the scan ends, the last occurrence wins.
//
// The file is read in blocks of blockSize bytes, never whole; memory is one
// block, one carried key prefix and the two values. The scan ends as soon as
// both keys have been found, or at the end of the file. Plain C++ and POSIX,
// so that the tool and the engines read a package's versions alike.
class VersionScan final
{
public:
    static constexpr std::ptrdiff_t DefaultBlockSize = 1024 * 1024;
    static constexpr std::ptrdiff_t DefaultValueLimit = 4096;

    enum class Outcome {
        Complete,   // read to the end, or both keys found
        Stopped,    // asked to stop between blocks
        Unreadable, // could not be opened or a read failed
    };

    struct Result
    {
        Outcome outcome = Outcome::Complete;
        bool displayFound = false;
        bool internalFound = false;
        std::string displayVersion;
        std::string internalVersion;
    };

    explicit VersionScan(std::ptrdiff_t blockSize = DefaultBlockSize,
                         std::ptrdiff_t valueLimit = DefaultValueLimit);

    // Scans the file; stop, when given, is checked before every block.
    Result scan(const std::string& path, const std::atomic_bool* stop = nullptr) const;

    std::ptrdiff_t blockSize() const { return m_blockSize; }
    std::ptrdiff_t valueLimit() const { return m_valueLimit; }

private:
    std::ptrdiff_t m_blockSize;
    std::ptrdiff_t m_valueLimit;
};

#pragma once

#include <cstdint>
#include <optional>
#include <string>

// What tells one state of a file from another without reading it: identity,
// size and the times of the last change to its bytes and to its inode.
// Plain C++, for the Qt-free cores.
struct FileStamp
{
    std::uint64_t device = 0, inode = 0, size = 0;
    std::int64_t modified = 0, changed = 0; // nanoseconds
    bool operator==(const FileStamp&) const = default;

    // The stamp of the file at path (links followed); empty when there is none.
    static std::optional<FileStamp> of(const std::string& path);
};

#include "core/FileStamp.h"

#include <sys/stat.h>

namespace {

constexpr std::int64_t nanoseconds(const struct timespec& t)
{
    return std::int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}

} // namespace

std::optional<FileStamp> FileStamp::of(const std::string& path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return std::nullopt;
    return FileStamp{std::uint64_t(info.st_dev), std::uint64_t(info.st_ino), std::uint64_t(info.st_size),
                     nanoseconds(info.st_mtim), nanoseconds(info.st_ctim)};
}

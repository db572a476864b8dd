#pragma once

#include <string>
#include <string_view>

#include <sys/types.h>

// Replaces a file atomically: the new content goes to a temporary file
// "<name>.tmp-XXXXXX" in the same folder, every write is checked, then
// fdatasync, rename over the old file and fsync of the folder. Until the
// rename the old file stays whole, so a crash leaves the old or the new file
// and never a mix. All system calls go through FileOps, so tests can fail
// any of them. Plain C++ and POSIX: the engine libraries use it too.
//
// The new file keeps the permission bits of the file it replaces; a new
// file gets 0644 (station files are shared settings, not secrets). A path
// that is a symbolic link has its target replaced and the link kept.
class AtomicWriter final
{
public:
    // Writes the whole content. On false no temporary file is left behind
    // and an errno-style code is in *error when given. The old file is
    // unchanged on every failure except the last step: when only the fsync
    // of the folder fails, the new content is in place but the rename may
    // not survive a power cut, and that is reported as a failure too.
    static bool replace(const std::string& path, std::string_view content, int* error = nullptr);

    // The file that replacing path replaces: the target of a symbolic link
    // (relative targets taken from the link's folder), any other path as it is.
    static std::string targetPath(const std::string& path);

    // Streams content in: open(), append() any number of times, commit().
    // Destruction without commit() removes the temporary file. Once a step
    // has failed, every later step fails too.
    explicit AtomicWriter(std::string path);
    ~AtomicWriter();
    AtomicWriter(const AtomicWriter&) = delete;
    AtomicWriter& operator=(const AtomicWriter&) = delete;

    bool open();
    bool append(const char* data, long long size);
    bool commit();
    int error() const { return m_error; }

private:
    bool fail();
    void discard();

    std::string m_path;
    std::string m_targetPath; // m_path with a symbolic link resolved
    std::string m_tempPath;
    int m_fd = -1;
    int m_error = 0;
};

#pragma once

#include <sys/types.h>

// The file system calls behind every station file change. Tests install a
// fault plan that fails the Nth write, fsync (fdatasync and fsync count
// together) or rename with a chosen errno (ENOSPC, EIO).
namespace FileOps {

enum class Op { Write, Sync, Rename };

int open(const char* path, int flags, mode_t mode = 0600);
// Writes all of size bytes, retrying short writes; -1 with errno on failure.
ssize_t writeAll(int fd, const void* data, size_t size);
int fdatasync(int fd);
int fsync(int fd);
int rename(const char* from, const char* to);
int ftruncate(int fd, off_t size);
int close(int fd);
// fsync of the folder that holds path.
int syncParentDir(const char* path);

// Test seam: the nth call (1-based, counted from now) of op fails with err.
void failNth(Op op, int nth, int err);
void clearFaults();

} // namespace FileOps

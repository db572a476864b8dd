#pragma once

#include <sys/types.h>

// The file system calls behind every station file change. Tests install a
// fault plan that fails the Nth write, fsync (fdatasync, fsync and the
// folder sync count together) or rename with a chosen errno (ENOSPC, EIO).
// Every descriptor is opened close-on-exec, so programs the station starts
// never inherit one.
namespace FileOps {

enum class Op { Write, Sync, Rename };

int open(const char* path, int flags, mode_t mode = 0600);
// mkstemp with close-on-exec: replaces the trailing "XXXXXX" of templ.
int makeTemp(char* templ);
// Writes all of size bytes, retrying short writes; -1 with errno on failure.
// An injected fault writes the first half of the bytes before it fails, as
// a full disk would.
ssize_t writeAll(int fd, const void* data, size_t size);
int fdatasync(int fd);
int fsync(int fd);
int rename(const char* from, const char* to);
int unlink(const char* path);
int ftruncate(int fd, off_t size);
int close(int fd);
// fsync of the folder that holds path.
int syncParentDir(const char* path);

// Test seam: the nth call (1-based, counted from now) of op fails with err.
// One plan per op; a new plan for the op replaces the old one.
void failNth(Op op, int nth, int err);
void clearFaults();
// True while a plan for op is still waiting for its call.
bool faultPending(Op op);

} // namespace FileOps

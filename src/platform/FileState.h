#pragma once

#include <QString>

#include <sys/types.h>

#include <ctime>
#include <optional>

// What the record log asks of its files beyond FileOps: whether a file is
// still the one it left behind, sizes and bytes of open files, appending,
// and a private mode for the plain log.
namespace FileState {

// A file's identity, size and modification time.
struct Stamp
{
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    bool operator==(const Stamp& other) const;
};

std::optional<Stamp> stampOf(const QString& path);
// The size of an open file; -1 when unknown.
off_t sizeOf(int fd);
// Reads the byte at offset without moving the file position.
bool byteAt(int fd, off_t offset, char* byte);
// Opens a file for appending, close-on-exec (through FileOps), readable
// too when asked; -1 with errno when it cannot.
int openAppend(const QString& path, bool readable);
// Gives an existing file the mode 0600, or creates it empty with that
// mode; true when the file was there before.
bool makePrivate(const QString& path);

} // namespace FileState

#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// A file opened for reading only, close-on-exec, and closed on every way
// out. Plain C++: the version scan and the engines read images through it.
class InputFile final
{
public:
    explicit InputFile(const std::string& path);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    bool isOpen() const { return m_fd >= 0; }
    // Tells the system that the file is read from start to end.
    void adviseSequential();
    // Reads up to size bytes at the file position: the count, 0 at the end,
    // -1 on an error.
    std::ptrdiff_t readSome(char* into, std::ptrdiff_t size);
    // Reads exactly size bytes at offset without moving the file position;
    // false on an error or when the file ends first.
    bool readAt(std::uint64_t offset, void* out, std::size_t size) const;
    // The same for any descriptor open for reading.
    static bool readAt(int fd, std::uint64_t offset, void* out, std::size_t size);

private:
    int m_fd;
};

#include "core/InputFile.h"

#include "core/FileOps.h"

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

InputFile::InputFile(const std::string& path)
    : m_fd(FileOps::open(path.c_str(), O_RDONLY))
{
}

InputFile::~InputFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void InputFile::adviseSequential()
{
    if (m_fd >= 0)
        ::posix_fadvise(m_fd, 0, 0, POSIX_FADV_SEQUENTIAL);
}

std::ptrdiff_t InputFile::readSome(char* into, std::ptrdiff_t size)
{
    for (;;) {
        const ssize_t got = ::read(m_fd, into, size_t(size));
        if (got >= 0 || errno != EINTR)
            return std::ptrdiff_t(got);
    }
}

bool InputFile::readAt(std::uint64_t offset, void* out, std::size_t size) const
{
    return readAt(m_fd, offset, out, size);
}

bool InputFile::readAt(int fd, std::uint64_t offset, void* out, std::size_t size)
{
    char* p = static_cast<char*>(out);
    while (size > 0) {
        const ssize_t n = ::pread(fd, p, size, off_t(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= size_t(n);
        offset += uint64_t(n);
    }
    return true;
}

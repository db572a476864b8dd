#include "platform/FileState.h"

#include "core/FileOps.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace FileState {

bool Stamp::operator==(const Stamp& other) const
{
    return device == other.device && inode == other.inode && size == other.size
        && modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec;
}

std::optional<Stamp> stampOf(const QString& path)
{
    struct stat st{};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    return Stamp{st.st_dev, st.st_ino, st.st_size, st.st_mtim};
}

off_t sizeOf(int fd)
{
    struct stat st{};
    return ::fstat(fd, &st) == 0 ? st.st_size : -1;
}

bool byteAt(int fd, off_t offset, char* byte)
{
    return ::pread(fd, byte, 1, offset) == 1;
}

int openAppend(const QString& path, bool readable)
{
    return FileOps::open(QFile::encodeName(path).constData(),
                         (readable ? O_RDWR : O_WRONLY) | O_APPEND | O_CLOEXEC);
}

bool makePrivate(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    if (::chmod(name.constData(), 0600) == 0)
        return true;
    const int fd = FileOps::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd >= 0)
        FileOps::close(fd);
    return false;
}

} // namespace FileState

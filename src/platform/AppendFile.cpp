#include "platform/AppendFile.h"

#include "core/FileOps.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

AppendFile::~AppendFile()
{
    close();
}

bool AppendFile::open(const QString& path)
{
    close();
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder)) {
        m_error = QStringLiteral("cannot create folder %1").arg(folder);
        return false;
    }
    m_fd = FileOps::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    return m_fd >= 0 || failed();
}

bool AppendFile::append(const QByteArray& bytes)
{
    if (m_fd < 0) {
        m_error = QStringLiteral("file not open");
        return false;
    }
    // Not FileOps::writeAll: its fault plans are meant for the station's
    // own files, and a log line must not use one up.
    const char* data = bytes.constData();
    size_t left = size_t(bytes.size());
    while (left > 0) {
        const ssize_t n = ::write(m_fd, data, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return failed();
        }
        data += n;
        left -= size_t(n);
    }
    return true;
}

void AppendFile::close()
{
    if (m_fd >= 0)
        FileOps::close(m_fd);
    m_fd = -1;
}

bool AppendFile::failed()
{
    m_error = qt_error_string(errno);
    return false;
}

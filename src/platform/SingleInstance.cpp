#include "platform/SingleInstance.h"

#include "core/FileOps.h"
#include "platform/StationPaths.h"

#include <QFile>

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>

SingleInstance::SingleInstance(const QString& name)
    : m_path(StationPaths::runtimeDir() + name
             + (name.endsWith(QLatin1String(".lock")) ? QString() : QStringLiteral(".lock")))
{
}

SingleInstance::~SingleInstance()
{
    release();
}

bool SingleInstance::alreadyRunning()
{
    if (m_fd >= 0)
        return false;
    // Close-on-exec: a program the station starts must not keep the lock.
    const int fd = FileOps::open(QFile::encodeName(m_path).constData(), O_RDWR | O_CREAT, 0644);
    if (fd < 0)
        return false;
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc == 0) {
        m_fd = fd;
        return false;
    }
    const bool held = errno == EWOULDBLOCK;
    FileOps::close(fd);
    return held;
}

void SingleInstance::release()
{
    if (m_fd < 0)
        return;
    // The lock file stays: deleting it would let a racing starter lock an
    // unlinked file while a third one creates a new file and locks that.
    FileOps::close(m_fd);
    m_fd = -1;
}

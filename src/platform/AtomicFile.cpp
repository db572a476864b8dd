#include "platform/AtomicFile.h"

#include "platform/FileOps.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>

#include <sys/stat.h>

namespace {

constexpr mode_t kNewFileMode = 0644;

QByteArray resolveTarget(const QString& path)
{
    const QFileInfo info(path);
    if (info.isSymLink())
        return QFile::encodeName(info.symLinkTarget());
    return QFile::encodeName(path);
}

mode_t modeFor(const QByteArray& target)
{
    struct stat st {};
    if (::stat(target.constData(), &st) == 0 && S_ISREG(st.st_mode))
        return st.st_mode & 07777;
    return kNewFileMode;
}

} // namespace

bool AtomicFile::replace(const QString& path, const QByteArray& content, int* error)
{
    AtomicFile file(path);
    const bool ok = file.open() && file.append(content.constData(), content.size()) && file.commit();
    if (error)
        *error = ok ? 0 : file.error();
    return ok;
}

AtomicFile::AtomicFile(QString path)
    : m_path(std::move(path))
{
}

AtomicFile::~AtomicFile()
{
    discard();
}

bool AtomicFile::open()
{
    if (m_error != 0 || m_fd >= 0)
        return m_error == 0;
    m_targetPath = resolveTarget(m_path);
    if (m_targetPath.isEmpty() || m_targetPath.endsWith('/')) {
        m_error = EINVAL;
        return false;
    }
    QByteArray templ = m_targetPath + ".tmp-XXXXXX";
    m_fd = FileOps::makeTemp(templ.data());
    if (m_fd < 0)
        return fail();
    m_tempPath = templ;
    // mkstemp creates the file 0600; give it the mode the file should have.
    if (::fchmod(m_fd, modeFor(m_targetPath)) != 0)
        return fail();
    return true;
}

bool AtomicFile::append(const char* data, qint64 size)
{
    if (m_fd < 0 || m_error != 0) {
        if (m_error == 0)
            m_error = EBADF;
        return false;
    }
    if (size <= 0)
        return true;
    if (FileOps::writeAll(m_fd, data, static_cast<size_t>(size)) < 0)
        return fail();
    return true;
}

bool AtomicFile::commit()
{
    if (m_fd < 0 || m_error != 0) {
        if (m_error == 0)
            m_error = EBADF;
        return false;
    }
    if (FileOps::fdatasync(m_fd) != 0)
        return fail();
    const int fd = m_fd;
    m_fd = -1;
    if (FileOps::close(fd) != 0)
        return fail();
    if (FileOps::rename(m_tempPath.constData(), m_targetPath.constData()) != 0)
        return fail();
    m_tempPath.clear();
    if (FileOps::syncParentDir(m_targetPath.constData()) != 0) {
        m_error = errno;
        return false;
    }
    return true;
}

bool AtomicFile::fail()
{
    m_error = errno != 0 ? errno : EIO;
    discard();
    return false;
}

void AtomicFile::discard()
{
    if (m_fd >= 0) {
        FileOps::close(m_fd);
        m_fd = -1;
    }
    if (!m_tempPath.isEmpty()) {
        FileOps::unlink(m_tempPath.constData());
        m_tempPath.clear();
    }
}

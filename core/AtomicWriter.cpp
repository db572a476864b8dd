#include "core/AtomicWriter.h"

#include "core/FileOps.h"

#include <cerrno>
#include <climits>
#include <filesystem>

#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr mode_t kNewFileMode = 0644;

} // namespace

std::string AtomicWriter::targetPath(const std::string& path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
        return path;
    char target[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
    if (n <= 0)
        return path;
    const std::filesystem::path link(std::string(target, size_t(n)));
    if (link.is_absolute())
        return link.lexically_normal().string();
    return (std::filesystem::absolute(path).parent_path() / link).lexically_normal().string();
}

namespace {

mode_t modeFor(const std::string& target)
{
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        return st.st_mode & 07777;
    return kNewFileMode;
}

} // namespace

bool AtomicWriter::replace(const std::string& path, std::string_view content, int* error)
{
    AtomicWriter file(path);
    const bool ok = file.open() && file.append(content.data(), static_cast<long long>(content.size()))
                    && file.commit();
    if (error)
        *error = ok ? 0 : file.error();
    return ok;
}

AtomicWriter::AtomicWriter(std::string path)
    : m_path(std::move(path))
{
}

AtomicWriter::~AtomicWriter()
{
    discard();
}

bool AtomicWriter::open()
{
    if (m_error != 0 || m_fd >= 0)
        return m_error == 0;
    m_targetPath = targetPath(m_path);
    if (m_targetPath.empty() || m_targetPath.ends_with('/')) {
        m_error = EINVAL;
        return false;
    }
    std::string templ = m_targetPath + ".tmp-XXXXXX";
    m_fd = FileOps::makeTemp(templ.data());
    if (m_fd < 0)
        return fail();
    m_tempPath = templ;
    // mkstemp creates the file 0600; give it the mode the file should have.
    if (::fchmod(m_fd, modeFor(m_targetPath)) != 0)
        return fail();
    return true;
}

bool AtomicWriter::append(const char* data, long long size)
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

bool AtomicWriter::commit()
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
    if (FileOps::rename(m_tempPath.c_str(), m_targetPath.c_str()) != 0)
        return fail();
    m_tempPath.clear();
    if (FileOps::syncParentDir(m_targetPath.c_str()) != 0) {
        m_error = errno;
        return false;
    }
    return true;
}

bool AtomicWriter::fail()
{
    m_error = errno != 0 ? errno : EIO;
    discard();
    return false;
}

void AtomicWriter::discard()
{
    if (m_fd >= 0) {
        FileOps::close(m_fd);
        m_fd = -1;
    }
    if (!m_tempPath.empty()) {
        FileOps::unlink(m_tempPath.c_str());
        m_tempPath.clear();
    }
}

#include "ModemFlash.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace modem {

namespace {

// An open file closed on every path.
class FileHandle
{
public:
    explicit FileHandle(const std::string& path)
        : m_fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC))
    {
    }
    ~FileHandle()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    int fd() const { return m_fd; }

    // Exactly size bytes at offset; false at an error or a short file.
    bool readAt(char* buffer, size_t size, uint64_t offset) const
    {
        while (size > 0) {
            const ssize_t got = ::pread(m_fd, buffer, size, off_t(offset));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                return false;
            buffer += got;
            size -= size_t(got);
            offset += uint64_t(got);
        }
        return true;
    }

private:
    int m_fd;
};

// Bytes [offset, offset + size) of a sparse image as expanded: raw blocks
// from the file, fill blocks as their pattern, don't-care blocks as zeros.
bool readExpanded(const FileHandle& file, const engine::Sparse::Layout& layout, uint64_t offset, char* out,
                  size_t size)
{
    using Segment = engine::Sparse::Segment;
    const uint64_t blockSize = layout.blockSize;
    // The first segment that ends after offset.
    auto it = std::upper_bound(layout.segments.begin(), layout.segments.end(), offset,
                               [&](uint64_t at, const Segment& s) { return at < (uint64_t(s.startBlock) + s.blocks) * blockSize; });
    while (size > 0) {
        if (it == layout.segments.end()) {
            std::memset(out, 0, size);
            return true;
        }
        const uint64_t start = uint64_t(it->startBlock) * blockSize;
        const uint64_t end = start + uint64_t(it->blocks) * blockSize;
        if (offset < start) { // a gap between segments reads as zeros
            const size_t n = size_t(std::min<uint64_t>(size, start - offset));
            std::memset(out, 0, n);
            out += n, offset += n, size -= n;
            continue;
        }
        const size_t n = size_t(std::min<uint64_t>(size, end - offset));
        const uint64_t within = offset - start;
        switch (it->kind) {
        case Segment::Kind::Raw: {
            const size_t fromFile = within < it->fileBytes ? size_t(std::min<uint64_t>(n, it->fileBytes - within)) : 0;
            if (fromFile > 0 && !file.readAt(out, fromFile, it->fileOffset + within))
                return false;
            std::memset(out + fromFile, 0, n - fromFile);
            break;
        }
        case Segment::Kind::Fill: {
            unsigned char pattern[4];
            for (int i = 0; i < 4; ++i)
                pattern[i] = static_cast<unsigned char>(it->fill >> (8 * i));
            for (size_t i = 0; i < n; ++i)
                out[i] = char(pattern[(within + i) % 4]);
            break;
        }
        case Segment::Kind::Skip:
            std::memset(out, 0, n);
            break;
        }
        out += n, offset += n, size -= n;
        ++it;
    }
    return true;
}

} // namespace

ModemFlash::ModemFlash(PacketLink& link, const FlashPackage& package, Settings settings, Progress progress,
                       Message message)
    : m_link(link)
    , m_package(package)
    , m_settings(std::move(settings))
    , m_progress(std::move(progress))
    , m_message(std::move(message))
{
}

bool ModemFlash::isStorage(const std::string& name)
{
    return name == "emmc" || name == "ufs" || name == "nand" || name == "spinor";
}

bool ModemFlash::fail(ModemFailure::Kind kind, std::string text)
{
    if (!m_failure) {
        m_failure.kind = kind;
        m_failure.text = std::move(text);
    }
    return false;
}

bool ModemFlash::failWith(const ModemFailure& failure)
{
    return fail(failure.kind, failure.text);
}

bool ModemFlash::checkPlan()
{
    if (!isStorage(m_settings.storage))
        return fail(ModemFailure::Kind::BadSettings,
                    "STORAGE=" + m_settings.storage + " is not one of emmc, ufs, nand, spinor");
    return true;
}

bool ModemFlash::sahara()
{
    struct stat info;
    if (::stat(m_package.programmerPath().c_str(), &info) != 0 || uint64_t(info.st_size) > kMaxProgrammer)
        return fail(ModemFailure::Kind::BadPackage, "the programmer cannot be read or exceeds 64 MiB");
    std::string programmer(size_t(info.st_size), '\0');
    const FileHandle file(m_package.programmerPath());
    if (file.fd() < 0 || !file.readAt(programmer.data(), programmer.size(), 0))
        return fail(ModemFailure::Kind::BadPackage, "the programmer cannot be read");

    SaharaHost host(m_link, m_settings.saharaTimeout);
    if (m_settings.readChipIdentity) {
        if (!host.readIdentity(&m_chip))
            return failWith(host.failure());
        if (m_message)
            m_message("Chip serial number " + m_chip.serial + ", hardware id " + m_chip.hardwareId);
    }
    return host.sendProgrammer(programmer) || failWith(host.failure());
}

bool ModemFlash::write(FirehoseHost& host, const FlashPackage::Write& write)
{
    const FileHandle file(write.path);
    if (file.fd() < 0)
        return fail(ModemFailure::Kind::BadPackage, write.source + ": " + write.entry.filename + " cannot be opened");
    uint64_t done = 0; // bytes of this write handed out so far
    const auto source = [&](char* buffer, size_t size, std::string* why) {
        // The file's bytes, then zeros up to the end of the last sector.
        const uint64_t fromFile = done < write.fileBytes ? std::min<uint64_t>(size, write.fileBytes - done) : 0;
        const bool read = write.sparse ? readExpanded(file, *write.sparse, done, buffer, size_t(fromFile))
                                       : file.readAt(buffer, size_t(fromFile), write.fileOffset + done);
        if (fromFile > 0 && !read) {
            *why = write.source + ": " + write.entry.filename + " could not be read (changed while writing?)";
            return false;
        }
        std::memset(buffer + fromFile, 0, size - size_t(fromFile));
        done += size;
        return true;
    };
    const auto progress = [&](uint64_t bytes) {
        m_written += bytes;
        if (m_progress)
            m_progress(m_written, m_package.totalBytes());
    };
    return host.program(write.entry, write.sectors, source, progress) || failWith(host.failure());
}

bool ModemFlash::firehose()
{
    FirehoseHost host(m_link, m_settings.firehose, [this](const std::string& line) {
        if (m_message)
            m_message(line);
    });
    if (!host.configure(m_settings.storage, m_settings.maxPayload))
        return failWith(host.failure());
    for (const FlashPackage::Write& entry : m_package.writes()) {
        if (!write(host, entry))
            return false;
    }
    for (const PatchEntry& patch : m_package.patches()) {
        if (!host.patch(patch))
            return failWith(host.failure());
    }
    if (m_settings.reset && !host.power("reset"))
        return failWith(host.failure());
    return true;
}

bool ModemFlash::run()
{
    m_written = 0;
    if (m_progress)
        m_progress(0, m_package.totalBytes());
    return checkPlan() && sahara() && firehose();
}

} // namespace modem

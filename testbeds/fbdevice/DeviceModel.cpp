#include "DeviceModel.h"

#include "SparseImage.h"
#include "core/InputFile.h"
#include "core/VersionScan.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace fbdevice {

namespace {

constexpr size_t kCopyBlock = 1024 * 1024;

bool writeAll(int fd, const char* data, size_t size, uint64_t offset)
{
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, data, size, off_t(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= size_t(n);
        offset += uint64_t(n);
    }
    return true;
}

// A reply packet: kind and text, at most 256 bytes.
std::string reply(const char* kind, const std::string& text = {})
{
    return (std::string(kind) + text).substr(0, 256);
}

bool validPartition(const std::string& name)
{
    return !name.empty() && name.size() <= 64 && name.find_first_not_of(
               "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-.") == std::string::npos
           && name != "." && name != "..";
}

} // namespace

DeviceModel::DeviceModel(DeviceSettings settings)
    : m_settings(std::move(settings))
    , m_display(m_settings.display)
    , m_internal(m_settings.internal)
{
    std::error_code ec;
    std::filesystem::create_directories(m_settings.storageDir, ec);
    m_downloadPath = (std::filesystem::path(m_settings.storageDir) / ".download").string();
}

DeviceModel::~DeviceModel()
{
    closeDownload();
}

void DeviceModel::sessionStarted()
{
    std::lock_guard lock(m_mutex);
    m_sessionData = 0;
    m_expected = 0;
    ++m_sessions;
}

int DeviceModel::sessions() const
{
    std::lock_guard lock(m_mutex);
    return m_sessions;
}

void DeviceModel::sessionEnded()
{
    std::lock_guard lock(m_mutex);
    if (m_expected > 0) {
        m_expected = 0;
        m_downloaded = 0;
    }
}

uint64_t DeviceModel::dataExpected() const
{
    std::lock_guard lock(m_mutex);
    return m_expected;
}

bool DeviceModel::present() const
{
    std::lock_guard lock(m_mutex);
    comeBackIfDue();
    if (m_away)
        return std::chrono::steady_clock::now() < m_awayFrom; // still going down
    return !m_system;
}

bool DeviceModel::inSystem() const
{
    std::lock_guard lock(m_mutex);
    comeBackIfDue();
    return !m_away && m_system;
}

void DeviceModel::bootToBootloader()
{
    std::lock_guard lock(m_mutex);
    m_awayFrom = m_awayUntil = std::min(m_awayUntil, std::chrono::steady_clock::now());
    comeBackIfDue();
    m_system = false;
}

std::string DeviceModel::display() const
{
    std::lock_guard lock(m_mutex);
    comeBackIfDue();
    return m_display;
}

std::string DeviceModel::internal() const
{
    std::lock_guard lock(m_mutex);
    comeBackIfDue();
    return m_internal;
}

std::string DeviceModel::partitionPath(const std::string& partition) const
{
    return (std::filesystem::path(m_settings.storageDir) / (partition + ".img")).string();
}

int DeviceModel::flashCount(const std::string& partition) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_flashes.find(partition);
    return it == m_flashes.end() ? 0 : it->second;
}

DeviceModel::Next DeviceModel::receive(const char* data, size_t size, const Send& send)
{
    std::lock_guard lock(m_mutex);
    comeBackIfDue();
    if (m_expected > 0)
        return this->data(data, size, send);
    if (size > kMaxCommand)
        return send(reply("FAIL", "command too long")) ? Next::Continue : Next::Disconnect;
    return command(std::string(data, size), send);
}

DeviceModel::Next DeviceModel::command(const std::string& text, const Send& send)
{
    const auto answer = [&](const std::string& packet) { return send(packet) ? Next::Continue : Next::Disconnect; };
    if (text.starts_with("getvar:"))
        return getvar(text.substr(7), send);
    if (text.starts_with("download:"))
        return download(text.substr(9), send);
    if (text.starts_with("flash:"))
        return flash(text.substr(6), send);
    if (text == "reboot" || text == "reboot-bootloader")
        return reboot(text == "reboot", send);
    if (text.starts_with("oem ")) {
        const auto it = m_settings.oem.find(text.substr(4));
        if (it == m_settings.oem.end())
            return answer(reply("FAIL", "unknown oem command"));
        if (!send(reply("INFO", it->second)))
            return Next::Disconnect;
        return answer(reply("OKAY"));
    }
    return answer(reply("FAIL", "unknown command"));
}

DeviceModel::Next DeviceModel::getvar(const std::string& name, const Send& send)
{
    std::string value;
    char size[16];
    std::snprintf(size, sizeof size, "0x%08x", m_settings.maxDownload);
    const std::map<std::string, std::string> vars = {
        {"version", "0.4"},
        {"product", m_settings.product},
        {"serialno", m_settings.imei},
        {"imei", m_settings.imei},
        {"ro.build.display.id", m_display},
        {"ro.build.sw_internal_version", m_internal},
        {"max-download-size", size},
        {"is-userspace", "no"},
    };
    const auto it = vars.find(name);
    const bool ok = it != vars.end() || name.starts_with("has-slot:") || name.starts_with("is-logical:");
    if (it != vars.end())
        value = it->second;
    else if (ok)
        value = "no";
    return send(ok ? reply("OKAY", value) : reply("FAIL", "unknown variable")) ? Next::Continue : Next::Disconnect;
}

DeviceModel::Next DeviceModel::download(const std::string& sizeText, const Send& send)
{
    const auto answer = [&](const std::string& packet) { return send(packet) ? Next::Continue : Next::Disconnect; };
    char* end = nullptr;
    const unsigned long size = std::strtoul(sizeText.c_str(), &end, 16);
    if (sizeText.size() != 8 || *end != '\0')
        return answer(reply("FAIL", "bad download size"));
    if (size == 0 || size > m_settings.maxDownload)
        return answer(reply("FAIL", "data too large"));
    closeDownload();
    m_downloadFd = ::open(m_downloadPath.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (m_downloadFd < 0)
        return answer(reply("FAIL", std::string("cannot store download: ") + std::strerror(errno)));
    m_expected = size;
    m_downloaded = 0;
    char ready[16];
    std::snprintf(ready, sizeof ready, "%08lx", size);
    return answer(reply("DATA", ready));
}

DeviceModel::Next DeviceModel::data(const char* data, size_t size, const Send& send)
{
    if (m_settings.dropAfter > 0 && m_sessionData + size >= m_settings.dropAfter)
        return Next::Disconnect;
    m_sessionData += size;
    if (size > m_expected) {
        m_expected = 0;
        return send(reply("FAIL", "more data than announced")) ? Next::Continue : Next::Disconnect;
    }
    const uint64_t at = uint64_t(::lseek(m_downloadFd, 0, SEEK_END));
    if (!writeAll(m_downloadFd, data, size, at)) {
        m_expected = 0;
        return send(reply("FAIL", "cannot store download")) ? Next::Continue : Next::Disconnect;
    }
    if (m_settings.delayMsPerMiB > 0)
        std::this_thread::sleep_for(std::chrono::microseconds(
            uint64_t(m_settings.delayMsPerMiB) * 1000 * size / (1024 * 1024)));
    m_expected -= size;
    if (m_expected > 0)
        return Next::Continue;
    m_downloaded = at + size;
    return send(reply("OKAY")) ? Next::Continue : Next::Disconnect;
}

DeviceModel::Next DeviceModel::flash(const std::string& partition, const Send& send)
{
    const auto answer = [&](const std::string& packet) { return send(packet) ? Next::Continue : Next::Disconnect; };
    if (!validPartition(partition))
        return answer(reply("FAIL", "no such partition"));
    if (m_downloaded == 0)
        return answer(reply("FAIL", "no data downloaded"));
    if (partition == m_settings.failPartition) {
        m_downloaded = 0;
        return answer(reply("FAIL", "writing '" + partition + "' failed: flash memory error"));
    }
    if (!send(reply("INFO", "writing '" + partition + "'")))
        return Next::Disconnect;
    const std::string target = partitionPath(partition);
    unsigned char magic[4] = {};
    const bool sparse = InputFile::readAt(m_downloadFd, 0, magic, 4) && engine::Sparse::hasMagic(magic);
    std::string why;
    if (sparse) {
        if (!applySparse(target, &why))
            return answer(reply("FAIL", why));
    } else {
        closeDownload();
        if (::rename(m_downloadPath.c_str(), target.c_str()) != 0)
            return answer(reply("FAIL", std::string("cannot write partition: ") + std::strerror(errno)));
    }
    m_downloaded = 0;
    ++m_flashes[partition];
    return answer(reply("OKAY"));
}

bool DeviceModel::applySparse(const std::string& target, std::string* why)
{
    const int source = m_downloadFd;
    engine::Sparse::Layout layout;
    const auto readAt = [source](uint64_t offset, void* out, size_t size) {
        return InputFile::readAt(source, offset, out, size);
    };
    if (!engine::Sparse::readLayout(readAt, m_downloaded, &layout, why))
        return false;
    const int fd = ::open(target.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0 || ::ftruncate(fd, off_t(uint64_t(layout.totalBlocks) * layout.blockSize)) != 0) {
        *why = "cannot write partition";
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    std::vector<char> buffer(kCopyBlock);
    bool ok = true;
    for (const auto& s : layout.segments) {
        const uint64_t at = uint64_t(s.startBlock) * layout.blockSize;
        const uint64_t length = uint64_t(s.blocks) * layout.blockSize;
        if (s.kind == engine::Sparse::Segment::Kind::Raw) {
            for (uint64_t done = 0; ok && done < length; done += kCopyBlock) {
                const size_t n = size_t(std::min<uint64_t>(kCopyBlock, length - done));
                ok = InputFile::readAt(source, s.fileOffset + done, buffer.data(), n) && writeAll(fd, buffer.data(), n, at + done);
            }
        } else if (s.kind == engine::Sparse::Segment::Kind::Fill) {
            for (size_t i = 0; i + 4 <= buffer.size(); i += 4)
                std::memcpy(buffer.data() + i, &s.fill, 4);
            for (uint64_t done = 0; ok && done < length; done += kCopyBlock)
                ok = writeAll(fd, buffer.data(), size_t(std::min<uint64_t>(kCopyBlock, length - done)), at + done);
        }
    }
    ::close(fd);
    if (!ok)
        *why = "cannot write partition";
    return ok;
}

DeviceModel::Next DeviceModel::reboot(bool toSystem, const Send& send)
{
    if (!send(reply("OKAY")))
        return Next::Disconnect;
    if (m_settings.neverReboots && !toSystem)
        return Next::Continue;
    m_away = true;
    m_toSystem = toSystem;
    m_awayFrom = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_settings.lingerMs);
    m_awayUntil = m_awayFrom + std::chrono::milliseconds(m_settings.awayMs);
    return Next::Disconnect;
}

// Back from a reboot: the versions are the ones in the flashed system image.
void DeviceModel::comeBackIfDue() const
{
    if (!m_away || std::chrono::steady_clock::now() < m_awayUntil)
        return;
    m_away = false;
    m_system = m_toSystem;
    const VersionScan::Result found = VersionScan().scan(partitionPath("system"));
    if (found.displayFound)
        m_display = found.displayVersion;
    if (found.internalFound)
        m_internal = found.internalVersion;
}

void DeviceModel::closeDownload()
{
    if (m_downloadFd >= 0)
        ::close(m_downloadFd);
    m_downloadFd = -1;
}

} // namespace fbdevice

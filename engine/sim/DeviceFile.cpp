#include "DeviceFile.h"

#include "core/AtomicWriter.h"
#include "core/IniText.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sim {

namespace {

constexpr char kSection[] = "Device";

std::string errorText(const std::string& what, int err)
{
    return what + ": " + std::strerror(err);
}

void setError(std::string* error, std::string text)
{
    if (error)
        *error = std::move(text);
}

template <typename T>
T number(const std::string& text, T fallback)
{
    T value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() ? value : fallback;
}

bool syncFolder(const std::string& folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    return ::close(fd) == 0 && ok;
}

std::string folderOf(const std::string& path)
{
    const std::string parent = std::filesystem::path(path).parent_path().string();
    return parent.empty() ? "." : parent;
}

} // namespace

DeviceFile::DeviceFile(std::string busDir, int port)
    : m_busDir(std::move(busDir))
    , m_port(port)
    , m_path((std::filesystem::path(m_busDir) / ("port-" + std::to_string(port) + ".ini")).string())
{
}

std::string DeviceFile::dataDir() const
{
    return (std::filesystem::path(m_busDir) / ("port-" + std::to_string(m_port) + ".data")).string();
}

bool DeviceFile::exists() const
{
    struct stat st {};
    return ::stat(m_path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::optional<DeviceFile::State> DeviceFile::read() const
{
    if (!exists())
        return std::nullopt;
    std::string text;
    {
        std::ifstream in(m_path, std::ios::binary);
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    const auto value = [&](std::string_view key) { return IniText::valueIn(text, kSection, key); };
    State s;
    // Anything but READY is a device that cannot take a download.
    std::string mode = value("Mode");
    for (char& c : mode)
        c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    s.arm = mode != "READY";
    s.display = value("DisplayVersion");
    s.internal = value("InternalVersion");
    s.imei = value("IMEI");
    s.speed = std::max<int64_t>(0, number<int64_t>(value("Speed"), 0));
    s.failAt = number<int>(value("FailAt"), -1);
    s.resultCode = number<int>(value("ResultCode"), 0);
    return s;
}

bool DeviceFile::write(const State& s, std::string* error) const
{
    std::string text = std::string("[") + kSection + "]\n";
    text += std::string("Mode=") + (s.arm ? "ARM" : "READY") + "\n";
    text += "DisplayVersion=" + s.display + "\n";
    text += "InternalVersion=" + s.internal + "\n";
    text += "IMEI=" + s.imei + "\n";
    if (s.speed > 0)
        text += "Speed=" + std::to_string(s.speed) + "\n";
    if (s.failAt >= 0)
        text += "FailAt=" + std::to_string(s.failAt) + "\n";
    if (s.resultCode != 0)
        text += "ResultCode=" + std::to_string(s.resultCode) + "\n";
    return replaceFile(m_path, text, error);
}

bool DeviceFile::remove(std::string* error) const
{
    if (::unlink(m_path.c_str()) != 0) {
        setError(error, errorText(m_path, errno));
        return false;
    }
    if (!syncFolder(folderOf(m_path))) {
        setError(error, errorText(folderOf(m_path), errno));
        return false;
    }
    return true;
}

std::vector<int> DeviceFile::ports(const std::string& busDir)
{
    std::vector<int> out;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(busDir, ec)) {
        int port = 0;
        if (isDeviceFileName(entry.path().filename().string(), &port) && entry.is_regular_file(ec))
            out.push_back(port);
    }
    std::sort(out.begin(), out.end());
    return out;
}

bool DeviceFile::isDeviceFileName(std::string_view name, int* port)
{
    constexpr std::string_view prefix = "port-";
    constexpr std::string_view suffix = ".ini";
    if (name.size() <= prefix.size() + suffix.size() || !name.starts_with(prefix) || !name.ends_with(suffix))
        return false;
    const std::string_view digits = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    if (digits.front() < '1' || digits.front() > '9')
        return false;
    int value = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (ec != std::errc() || end != digits.data() + digits.size())
        return false;
    if (port)
        *port = value;
    return true;
}

bool DeviceFile::replaceFile(const std::string& path, std::string_view content, std::string* error)
{
    int err = 0;
    if (!AtomicWriter::replace(path, content, &err)) {
        setError(error, errorText(path, err));
        return false;
    }
    return true;
}

} // namespace sim

#include "core/IniText.h"

#include "core/AtomicWriter.h"
#include "core/FileOps.h"

#include <cerrno>
#include <climits>
#include <filesystem>
#include <mutex>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using View = std::string_view;

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

View trimmed(View text)
{
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

char asciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

bool sameName(View a, View b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (asciiLower(a[i]) != asciiLower(b[i]))
            return false;
    }
    return true;
}

bool isQuote(char c)
{
    return c == '"' || c == '\'';
}

View unquoted(View value)
{
    if (value.size() >= 2 && isQuote(value.front()) && value.front() == value.back())
        return value.substr(1, value.size() - 2);
    return value;
}

// Where the first section of a name and its first key of a name lie.
struct Scan
{
    bool sectionFound = false;
    bool keyFound = false;
    size_t keyBegin = 0; // key line, terminator excluded
    size_t keyEnd = 0;
    View keyName;        // as spelt in the file, trimmed
    View value;          // trimmed, still quoted
    size_t insertAt = 0; // just after the section's last key (or header) line
};

Scan scan(View data, View section, View key)
{
    Scan result;
    bool inSection = false;
    size_t pos = data.starts_with("\xEF\xBB\xBF") ? 3 : 0;
    while (pos < data.size()) {
        size_t next = data.find('\n', pos);
        next = next == View::npos ? data.size() : next + 1;
        View line = data.substr(pos, next - pos);
        if (line.ends_with('\n'))
            line.remove_suffix(1);
        const View content = trimmed(line);
        const size_t begin = pos;
        pos = next;

        if (content.starts_with('[')) {
            if (inSection)
                break; // only the first section of the name counts
            View name = content.substr(1);
            const size_t close = name.find(']');
            if (close != View::npos)
                name = name.substr(0, close);
            if (sameName(trimmed(name), section)) {
                inSection = true;
                result.sectionFound = true;
                result.insertAt = next;
            }
            continue;
        }
        const size_t eq = content.find('=');
        if (!inSection || eq == View::npos)
            continue;
        result.insertAt = next;
        const View name = trimmed(content.substr(0, eq));
        if (sameName(name, key)) {
            result.keyFound = true;
            result.keyBegin = begin;
            result.keyEnd = size_t(content.data() - data.data()) + content.size();
            result.keyName = name;
            result.value = trimmed(content.substr(eq + 1));
            break;
        }
    }
    return result;
}

bool readAll(const std::string& path, std::string* data)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    data->clear();
    char buffer[16 * 1024];
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        data->append(buffer, size_t(n));
    }
    ::close(fd);
    return ok;
}

// A value that reading would trim or unquote goes into double quotes.
std::string quotedIfNeeded(View value)
{
    if (value.empty())
        return {};
    const bool blankEdge = isBlank(value.front()) || isBlank(value.back());
    const bool quoted = value.size() >= 2 && isQuote(value.front()) && value.front() == value.back();
    if (blankEdge || quoted)
        return '"' + std::string(value) + '"';
    return std::string(value);
}

bool holdsLineBreak(View text)
{
    return text.find_first_of("\r\n") != View::npos;
}

bool refused(View section, View key, View value)
{
    const View sectionName = trimmed(section);
    const View keyName = trimmed(key);
    return holdsLineBreak(section) || holdsLineBreak(key) || holdsLineBreak(value)
           || sectionName.find(']') != View::npos || keyName.find('=') != View::npos
           || keyName.starts_with('[');
}

// The INI write lock (see IniText::update). The mutex orders this copy's
// threads, also for ThreadSanitizer, which does not see flock; the flock on
// a fresh open of the folder excludes every other holder, the other copies
// in this process included, since each open is a description of its own.
// A folder that cannot be locked (a file system without flock) still has
// the mutex; one that cannot be opened fails the write anyway.
class WriteLock final
{
public:
    explicit WriteLock(const std::string& path)
        : m_guard(processMutex())
    {
        std::string folder = std::filesystem::path(AtomicWriter::targetPath(path)).parent_path().string();
        if (folder.empty())
            folder = ".";
        m_fd = FileOps::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
        if (m_fd < 0)
            return;
        while (::flock(m_fd, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    ~WriteLock()
    {
        if (m_fd >= 0)
            FileOps::close(m_fd); // releases the flock
    }
    WriteLock(const WriteLock&) = delete;
    WriteLock& operator=(const WriteLock&) = delete;

private:
    static std::mutex& processMutex()
    {
        static std::mutex mutex;
        return mutex;
    }

    std::lock_guard<std::mutex> m_guard;
    int m_fd = -1;
};

} // namespace

IniText::IniText(std::string path)
    : m_path(std::move(path))
{
}

std::string IniText::readText(View section, View key, View defaultValue, int capacity) const
{
    if (capacity < 2)
        return {};
    std::string data;
    std::string value(defaultValue);
    if (readAll(m_path, &data))
        value = valueIn(data, section, key, defaultValue);
    if (value.size() > size_t(capacity - 1))
        value.resize(size_t(capacity - 1));
    return value;
}

std::string IniText::valueIn(View data, View section, View key, View defaultValue)
{
    const Scan found = scan(data, trimmed(section), trimmed(key));
    return std::string(found.keyFound ? unquoted(found.value) : defaultValue);
}

int IniText::readInt(View section, View key, int defaultValue) const
{
    const std::string value = readText(section, key, {}, INT_MAX);
    return value.empty() ? defaultValue : leadingInt(value);
}

bool IniText::writeText(View section, View key, View value) const
{
    if (refused(section, key, value))
        return false;
    return update([&](std::string& text) {
        const std::string before = text;
        setValueIn(text, section, key, value);
        return text != before; // a missing file always changes
    });
}

bool IniText::update(const std::function<bool(std::string& text)>& change) const
{
    const WriteLock lock(m_path);
    std::string data;
    if (exists() && !readAll(m_path, &data))
        return false;
    if (!change(data))
        return true;
    return AtomicWriter::replace(m_path, data);
}

bool IniText::setValueIn(std::string& data, View section, View key, View value)
{
    if (refused(section, key, value))
        return false;
    const View sectionName = trimmed(section);
    const View keyName = trimmed(key);
    const std::string eol = data.find("\r\n") != std::string::npos ? "\r\n" : "\n";
    const Scan found = scan(data, sectionName, keyName);
    const std::string text = quotedIfNeeded(value);

    std::string out;
    if (found.keyFound) {
        out = data.substr(0, found.keyBegin);
        out.append(found.keyName).append("=").append(text).append(data.substr(found.keyEnd));
    } else if (found.sectionFound) {
        out = data.substr(0, found.insertAt);
        if (!out.ends_with('\n'))
            out += eol;
        out.append(keyName).append("=").append(text).append(eol).append(data.substr(found.insertAt));
    } else {
        out = data;
        if (!out.empty() && !out.ends_with('\n'))
            out += eol;
        out.append("[").append(sectionName).append("]").append(eol);
        out.append(keyName).append("=").append(text).append(eol);
    }
    data = std::move(out);
    return true;
}

bool IniText::exists() const
{
    struct stat st {};
    return ::stat(m_path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

int IniText::leadingInt(View text)
{
    size_t i = 0;
    const size_t n = text.size();
    while (i < n && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Accumulate as a negative number: its range holds INT_MIN.
    long long value = 0;
    for (; i < n && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 - (text[i] - '0');
        if (value < INT_MIN) {
            value = INT_MIN - 1LL;
            break;
        }
    }
    if (negative)
        return value < INT_MIN ? INT_MIN : int(value);
    return value < -static_cast<long long>(INT_MAX) ? INT_MAX : int(-value);
}

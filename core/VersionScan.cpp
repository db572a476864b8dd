#include "core/VersionScan.h"

#include "core/InputFile.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr char DisplayKey[] = "ro.build.display.id=";
constexpr char InternalKey[] = "ro.build.sw_internal_version=";
constexpr std::ptrdiff_t DisplayKeyLength = sizeof(DisplayKey) - 1;
constexpr std::ptrdiff_t InternalKeyLength = sizeof(InternalKey) - 1;
// A line feed and an unfinished key carried from one block into the next.
constexpr std::ptrdiff_t CarryCapacity = std::max(DisplayKeyLength, InternalKeyLength);

enum class Key { None, Display, Internal, NeedMore };

// Which key starts at p, given avail bytes. NeedMore when the bytes run out
// inside what could still become a key.
Key matchKey(const char* p, std::ptrdiff_t avail, bool atEnd)
{
    struct Candidate { const char* text; std::ptrdiff_t length; Key key; };
    static constexpr Candidate candidates[] = {
        {DisplayKey, DisplayKeyLength, Key::Display},
        {InternalKey, InternalKeyLength, Key::Internal},
    };
    // Most line feeds in an image start no key at all.
    if (avail > 0 && *p != 'r')
        return Key::None;
    bool partial = false;
    for (const Candidate& c : candidates) {
        if (avail >= c.length) {
            if (std::memcmp(p, c.text, size_t(c.length)) == 0)
                return c.key;
        } else if (!atEnd && std::memcmp(p, c.text, size_t(avail)) == 0) {
            partial = true;
        }
    }
    return partial ? Key::NeedMore : Key::None;
}

// The state of one scan between blocks: the value being read, if any.
class LineFinder final
{
public:
    LineFinder(VersionScan::Result& result, std::ptrdiff_t valueLimit)
        : m_result(result), m_valueLimit(valueLimit) {}

    // Takes the bytes [data, data + size); returns how many bytes at the end
    // must be handed in again in front of the next block.
    std::ptrdiff_t feed(const char* data, std::ptrdiff_t size, bool atEnd)
    {
        std::ptrdiff_t i = 0;
        while (i < size && !done()) {
            if (m_value) {
                i = readValue(data, size, i);
                continue;
            }
            const void* lf = std::memchr(data + i, '\n', size_t(size - i));
            if (!lf)
                break;
            const std::ptrdiff_t start = static_cast<const char*>(lf) - data + 1;
            switch (matchKey(data + start, size - start, atEnd)) {
            case Key::NeedMore:
                return size - (start - 1);
            case Key::Display:
                begin(m_result.displayVersion, m_result.displayFound);
                i = start + DisplayKeyLength;
                break;
            case Key::Internal:
                begin(m_result.internalVersion, m_result.internalFound);
                i = start + InternalKeyLength;
                break;
            case Key::None:
                i = start;
                break;
            }
        }
        return 0;
    }

    // The end of the file closes a value still open.
    void finish() { m_value = nullptr; }

    bool done() const { return !m_value && m_result.displayFound && m_result.internalFound; }

private:
    void begin(std::string& value, bool& found)
    {
        value.clear();
        found = true; // a later occurrence replaces this one
        m_value = &value;
    }

    // Appends value bytes from i up to the next line feed and returns where
    // reading goes on: at that line feed, which also opens the next line.
    std::ptrdiff_t readValue(const char* data, std::ptrdiff_t size, std::ptrdiff_t i)
    {
        const void* lf = std::memchr(data + i, '\n', size_t(size - i));
        const std::ptrdiff_t end = lf ? static_cast<const char*>(lf) - data : size;
        const std::ptrdiff_t room = m_valueLimit - std::ptrdiff_t(m_value->size());
        const std::ptrdiff_t take = std::min(end - i, room);
        if (take > 0) {
            const std::ptrdiff_t from = std::ptrdiff_t(m_value->size());
            m_value->append(data + i, size_t(take));
            std::replace(m_value->begin() + from, m_value->end(), '\0', ' ');
        }
        if (lf)
            m_value = nullptr;
        return end;
    }

    VersionScan::Result& m_result;
    std::ptrdiff_t m_valueLimit;
    std::string* m_value = nullptr;
};

} // namespace

VersionScan::VersionScan(std::ptrdiff_t blockSize, std::ptrdiff_t valueLimit)
    : m_blockSize(std::max<std::ptrdiff_t>(blockSize, 1)), m_valueLimit(std::max<std::ptrdiff_t>(valueLimit, 0))
{
}

VersionScan::Result VersionScan::scan(const std::string& path, const std::atomic_bool* stop) const
{
    Result result;
    InputFile file(path);
    if (!file.isOpen()) {
        result.outcome = Outcome::Unreadable;
        return result;
    }
    file.adviseSequential();

    // The carried bytes are moved in just before the block, so key and line
    // feed are seen as one run of bytes.
    std::vector<char> buffer(size_t(CarryCapacity + m_blockSize));
    char* const block = buffer.data() + CarryCapacity;
    std::ptrdiff_t carried = 0;
    LineFinder finder(result, m_valueLimit);
    for (;;) {
        if (stop && stop->load(std::memory_order_relaxed)) {
            result.outcome = Outcome::Stopped;
            return result;
        }
        const std::ptrdiff_t got = file.readSome(block, m_blockSize);
        if (got < 0) {
            result.outcome = Outcome::Unreadable;
            return result;
        }
        const char* const run = block - carried;
        const std::ptrdiff_t runSize = carried + got;
        if (got == 0) {
            finder.feed(run, runSize, true);
            finder.finish();
            return result;
        }
        const std::ptrdiff_t keep = finder.feed(run, runSize, false);
        if (finder.done())
            return result;
        std::memmove(block - keep, run + runSize - keep, size_t(keep));
        carried = keep;
    }
}

#include "PackageVersions.h"

#include <cstring>
#include <fstream>
#include <string_view>
#include <vector>

namespace sim {

namespace {

constexpr std::string_view kDisplayKey = "ro.build.display.id=";
constexpr std::string_view kInternalKey = "ro.build.sw_internal_version=";

// Takes a value from a whole line (without its line feed). A carriage return
// before the line feed is no part of a version.
void takeLine(std::string_view line, std::string* display, std::string* internal,
              bool* haveDisplay, bool* haveInternal)
{
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    if (!*haveDisplay && line.starts_with(kDisplayKey)) {
        *display = std::string(line.substr(kDisplayKey.size()));
        *haveDisplay = true;
    } else if (!*haveInternal && line.starts_with(kInternalKey)) {
        *internal = std::string(line.substr(kInternalKey.size()));
        *haveInternal = true;
    }
}

} // namespace

bool PackageVersions::read(const std::string& imagePath, std::string* display,
                           std::string* internal, size_t blockSize)
{
    std::ifstream in(imagePath, std::ios::binary);
    if (!in)
        return false;
    std::vector<char> block(blockSize == 0 ? 1 : blockSize);
    std::string line;      // the current line so far, at most kMaxLine bytes
    bool afterLf = false;  // the current line follows a line feed
    bool tooLong = false;
    bool haveDisplay = false;
    bool haveInternal = false;
    while (!(haveDisplay && haveInternal)) {
        in.read(block.data(), static_cast<std::streamsize>(block.size()));
        const size_t got = static_cast<size_t>(in.gcount());
        if (got == 0)
            break;
        std::string_view rest(block.data(), got);
        while (!rest.empty()) {
            const size_t lf = rest.find('\n');
            const std::string_view piece = rest.substr(0, lf);
            if (!tooLong && line.size() + piece.size() <= kMaxLine)
                line.append(piece);
            else
                tooLong = true;
            if (lf == std::string_view::npos)
                break;
            if (afterLf && !tooLong)
                takeLine(line, display, internal, &haveDisplay, &haveInternal);
            line.clear();
            tooLong = false;
            afterLf = true;
            rest.remove_prefix(lf + 1);
        }
    }
    // A last line without a line feed ends at the end of the file.
    if (afterLf && !tooLong)
        takeLine(line, display, internal, &haveDisplay, &haveInternal);
    return haveDisplay && haveInternal;
}

} // namespace sim

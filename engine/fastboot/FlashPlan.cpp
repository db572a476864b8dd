#include "FlashPlan.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include <unistd.h>

namespace fs = std::filesystem;

namespace fastboot {

namespace {

constexpr const char* kDefaultImages[] = {
    "boot.img", "vendor_boot.img", "dtbo.img", "vbmeta.img",
    "system.img", "vendor.img", "product.img", "odm.img",
};

bool validPartition(const std::string& name)
{
    if (name.empty() || name.size() > 64)
        return false;
    for (const char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'
                        || c == '-' || c == '.';
        if (!ok)
            return false;
    }
    return true;
}

// A file inside the version directory: no absolute path, no way up.
bool validFile(const std::string& name)
{
    const fs::path p(name);
    if (name.empty() || p.is_absolute())
        return false;
    for (const auto& part : p) {
        if (part == "..")
            return false;
    }
    return true;
}

// True when path lies inside root; both are resolved, with no symlinks left.
bool inside(const fs::path& root, const fs::path& path)
{
    auto r = root.begin();
    auto p = path.begin();
    for (; r != root.end() && !r->empty(); ++r, ++p) {
        if (p == path.end() || *p != *r)
            return false;
    }
    return true;
}

// The file that name in the package folder stands for, symlinks followed:
// a regular file inside the resolved folder, or false with *why naming it.
// A link out of the package would send any file of the station (a password
// file, /dev/zero, a FIFO that blocks for ever) to the device.
bool resolveInside(const fs::path& root, const std::string& dir, const std::string& name, fs::path* resolved,
                   std::string* why)
{
    std::error_code ec;
    *resolved = fs::canonical(fs::path(dir) / name, ec);
    if (ec) {
        *why = name + " in " + dir + " cannot be opened (" + ec.message() + "). Check the software version.";
        return false;
    }
    if (!inside(root, *resolved)) {
        *why = name + " in " + dir + " leads outside the package folder, to " + resolved->string()
               + ". Fix the software version.";
        return false;
    }
    if (!fs::is_regular_file(*resolved, ec)) {
        *why = name + " in " + dir + " is not a regular file. Fix the software version.";
        return false;
    }
    return true;
}

bool addEntry(FlashPlan* plan, const fs::path& root, const std::string& dir, const std::string& partition,
              const std::string& file, std::string* why)
{
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(fs::path(dir) / file, ec))) {
        *why = "The flash plan names " + file + ", which is not in " + dir + ". Check the software version.";
        return false;
    }
    fs::path resolved;
    if (!resolveInside(root, dir, file, &resolved, why))
        return false;
    FlashPlan::Entry e{partition, file, resolved.string(), 0};
    e.size = fs::file_size(resolved, ec);
    if (ec || ::access(e.path.c_str(), R_OK) != 0) {
        *why = "Cannot read " + e.path + ". Check the software version.";
        return false;
    }
    plan->totalBytes += e.size;
    plan->entries.push_back(e);
    return true;
}

} // namespace

bool FlashPlan::load(const std::string& versionDir, FlashPlan* plan, std::string* why)
{
    *plan = {};
    std::error_code ec;
    if (versionDir.empty() || !fs::is_directory(versionDir, ec)) {
        *why = "The software version directory \"" + versionDir + "\" does not exist. Choose it again.";
        return false;
    }
    const fs::path root = fs::canonical(versionDir, ec);
    if (ec) {
        *why = "Cannot read the software version directory \"" + versionDir + "\" (" + ec.message()
               + "). Choose it again.";
        return false;
    }
    fs::path planPath = fs::path(versionDir) / kPlanFile;
    if (!fs::exists(fs::symlink_status(planPath, ec))) {
        for (const char* image : kDefaultImages) {
            // Anything of that name counts, so that a link or a FIFO named
            // boot.img is refused rather than passed over.
            if (fs::exists(fs::symlink_status(fs::path(versionDir) / image, ec))) {
                const std::string file(image);
                if (!addEntry(plan, root, versionDir, file.substr(0, file.size() - 4), file, why))
                    return false;
            }
        }
        if (plan->entries.empty()) {
            *why = "No images to flash in " + versionDir + ". Check the software version.";
            return false;
        }
        return true;
    }
    if (!resolveInside(root, versionDir, kPlanFile, &planPath, why))
        return false;
    std::ifstream in(planPath);
    if (!in) {
        *why = "Cannot read " + planPath.string() + ". Check the software version.";
        return false;
    }
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::istringstream words(line);
        std::string partition;
        std::string file;
        std::string extra;
        words >> partition >> file >> extra;
        if (partition.empty() || partition.front() == '#')
            continue;
        if (file.empty() || !extra.empty() || !validPartition(partition) || !validFile(file)) {
            *why = std::string(kPlanFile) + " line " + std::to_string(number) + " is not \"<partition> <file>\": \""
                   + line + "\". Fix the software version.";
            return false;
        }
        if (!addEntry(plan, root, versionDir, partition, file, why))
            return false;
    }
    if (in.bad() || plan->entries.empty()) {
        *why = std::string(kPlanFile) + " in " + versionDir + " names no images. Fix the software version.";
        return false;
    }
    return true;
}

} // namespace fastboot

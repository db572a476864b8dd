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

bool addEntry(FlashPlan* plan, const std::string& dir, const std::string& partition, const std::string& file,
              std::string* why)
{
    FlashPlan::Entry e{partition, file, (fs::path(dir) / file).string(), 0};
    std::error_code ec;
    if (!fs::is_regular_file(e.path, ec)) {
        *why = "The flash plan names " + file + ", which is not in " + dir + ". Check the software version.";
        return false;
    }
    e.size = fs::file_size(e.path, ec);
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
    const fs::path planPath = fs::path(versionDir) / kPlanFile;
    if (!fs::exists(planPath, ec)) {
        for (const char* image : kDefaultImages) {
            if (fs::is_regular_file(fs::path(versionDir) / image, ec)) {
                const std::string file(image);
                if (!addEntry(plan, versionDir, file.substr(0, file.size() - 4), file, why))
                    return false;
            }
        }
        if (plan->entries.empty()) {
            *why = "No images to flash in " + versionDir + ". Check the software version.";
            return false;
        }
        return true;
    }
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
        if (!addEntry(plan, versionDir, partition, file, why))
            return false;
    }
    if (in.bad() || plan->entries.empty()) {
        *why = std::string(kPlanFile) + " in " + versionDir + " names no images. Fix the software version.";
        return false;
    }
    return true;
}

} // namespace fastboot

#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fastboot {

// What a download writes, in order: "flash-plan.txt" of the version
// directory when present (lines "<partition> <file>", "#" comments and blank
// lines ignored), otherwise the known images that are present.
struct FlashPlan
{
    struct Entry
    {
        std::string partition;
        std::string file; // as named in the plan
        std::string path; // full path
        uint64_t size = 0;
    };

    std::vector<Entry> entries;
    uint64_t totalBytes = 0;

    static constexpr const char* kPlanFile = "flash-plan.txt";

    // False with *why, a text for the operator, when the directory, the
    // plan or a file it names is missing, unreadable or malformed.
    static bool load(const std::string& versionDir, FlashPlan* plan, std::string* why);
};

} // namespace fastboot

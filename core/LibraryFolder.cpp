#include "core/LibraryFolder.h"

#include <climits>
#include <cstdlib>
#include <filesystem>

#include <dlfcn.h>

namespace engine {

std::string libraryFolder(const void* address)
{
    Dl_info info{};
    if (::dladdr(address, &info) == 0 || !info.dli_fname)
        return ".";
    char resolved[PATH_MAX];
    const char* path = ::realpath(info.dli_fname, resolved) ? resolved : info.dli_fname;
    const std::string folder = std::filesystem::path(path).parent_path().string();
    return folder.empty() ? "." : folder;
}

} // namespace engine

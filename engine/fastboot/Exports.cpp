// The two exports of the engine library. Everything else stays hidden.

#include "FastbootEngine.h"

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <new>

#include <dlfcn.h>

namespace {

// The station folder is the folder that holds this library file.
std::string libraryFolder()
{
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&Create), &info) == 0 || !info.dli_fname)
        return ".";
    char resolved[PATH_MAX];
    const char* path = ::realpath(info.dli_fname, resolved) ? resolved : info.dli_fname;
    const std::string folder = std::filesystem::path(path).parent_path().string();
    return folder.empty() ? "." : folder;
}

} // namespace

#pragma GCC visibility push(default)

extern "C" FlashEngine* Create(void)
{
    try {
        return new fastboot::FastbootEngine(libraryFolder());
    } catch (...) {
        return nullptr;
    }
}

extern "C" void Destroy(FlashEngine* engine)
{
    delete static_cast<fastboot::FastbootEngine*>(engine);
}

#pragma GCC visibility pop

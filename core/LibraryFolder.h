#pragma once

#include <string>

namespace engine {

// The folder that holds the shared library with the code at address: an
// engine's station folder. "." when the loader cannot tell.
std::string libraryFolder(const void* address);

} // namespace engine

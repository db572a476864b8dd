#pragma once

#include "FlashEngine.h"

#include <string>

// Each engine library defines these two; the shared Create and Destroy
// exports call them.
namespace engine {

// The engine for the station folder the library was loaded from.
FlashEngine* makeEngine(const std::string& libraryFolder);
void destroyEngine(FlashEngine* engine);

} // namespace engine

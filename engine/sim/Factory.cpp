// The stand-in engine behind the library's Create and Destroy.

#include "EngineFactory.h"
#include "SimEngine.h"

namespace engine {

FlashEngine* makeEngine(const std::string& libraryFolder)
{
    return new sim::SimEngine(libraryFolder);
}

void destroyEngine(FlashEngine* engine)
{
    delete static_cast<sim::SimEngine*>(engine);
}

} // namespace engine

// The fastboot engine behind the library's Create and Destroy.

#include "EngineFactory.h"
#include "FastbootEngine.h"

namespace engine {

FlashEngine* makeEngine(const std::string& libraryFolder)
{
    return new fastboot::FastbootEngine(libraryFolder);
}

void destroyEngine(FlashEngine* engine)
{
    delete static_cast<fastboot::FastbootEngine*>(engine);
}

} // namespace engine

// The modem engine behind the library's Create and Destroy.

#include "EngineFactory.h"
#include "ModemEngine.h"

namespace engine {

FlashEngine* makeEngine(const std::string& libraryFolder)
{
    return new modem::ModemEngine(libraryFolder);
}

void destroyEngine(FlashEngine* engine)
{
    delete static_cast<modem::ModemEngine*>(engine);
}

} // namespace engine

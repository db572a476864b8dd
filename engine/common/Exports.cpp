// The two exports of an engine library. Everything else stays hidden.

#include "EngineFactory.h"
#include "core/LibraryFolder.h"

#pragma GCC visibility push(default)

extern "C" FlashEngine* Create(void)
{
    try {
        return engine::makeEngine(engine::libraryFolder(reinterpret_cast<const void*>(&Create)));
    } catch (...) {
        return nullptr;
    }
}

extern "C" void Destroy(FlashEngine* engine)
{
    engine::destroyEngine(engine);
}

#pragma GCC visibility pop

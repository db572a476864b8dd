// The two exports of the engine library. Everything else stays hidden.

#include "FastbootEngine.h"

#include "LibraryFolder.h"

#include <new>

#pragma GCC visibility push(default)

extern "C" FlashEngine* Create(void)
{
    try {
        return new fastboot::FastbootEngine(engine::libraryFolder(reinterpret_cast<const void*>(&Create)));
    } catch (...) {
        return nullptr;
    }
}

extern "C" void Destroy(FlashEngine* engine)
{
    delete static_cast<fastboot::FastbootEngine*>(engine);
}

#pragma GCC visibility pop

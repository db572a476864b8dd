#include "IniWriter.h"

#include "core/IniText.h"

#include <string>

#pragma GCC visibility push(default)

extern "C" int iniWriterRun(const char* path, const char* section, int count)
{
    const IniText ini(path);
    int written = 0;
    for (int i = 0; i < count; ++i) {
        const std::string key = "KEY." + std::to_string(i);
        if (ini.writeText(section, key, std::string(section) + "-" + std::to_string(i)))
            ++written;
    }
    return written;
}

extern "C" const void* iniWriterCore()
{
    return reinterpret_cast<const void*>(&IniText::setValueIn);
}

#pragma GCC visibility pop

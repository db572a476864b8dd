#include "platform/SharedLibrary.h"

#include <QFile>

#include <dlfcn.h>
#include <link.h>

bool SharedLibrary::load(const QString& name)
{
    unload();
    m_handle = dlopen(QFile::encodeName(name).constData(), RTLD_NOW | RTLD_LOCAL);
    if (!m_handle) {
        m_error = QString::fromLocal8Bit(dlerror());
        return false;
    }
    m_error.clear();
    return true;
}

void* SharedLibrary::ownSymbol(const char* name) const
{
    if (!m_handle)
        return nullptr;
    void* symbol = dlsym(m_handle, name);
    link_map* own = nullptr;
    link_map* found = nullptr;
    Dl_info info{};
    if (!symbol || dlinfo(m_handle, RTLD_DI_LINKMAP, &own) != 0
        || dladdr1(symbol, &info, reinterpret_cast<void**>(&found), RTLD_DL_LINKMAP) == 0)
        return nullptr;
    return found == own ? symbol : nullptr;
}

void SharedLibrary::unload()
{
    if (m_handle)
        dlclose(m_handle);
    m_handle = nullptr;
}

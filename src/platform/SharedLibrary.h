#pragma once

#include <QString>

// A library loaded at run time. Unloading is explicit: code of the library
// may still run when its owner is destroyed (see EngineBinding).
class SharedLibrary final
{
public:
    SharedLibrary() = default;
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;

    // Loads by name or path, all symbols bound now and kept local; a bare
    // name is searched as the system does (the executable's run path
    // first). False, with errorString(), when it cannot be loaded.
    bool load(const QString& name);
    bool isLoaded() const { return m_handle != nullptr; }
    // An export of this library itself: a symbol of that name found in one
    // of its dependencies does not count. nullptr when there is none.
    void* ownSymbol(const char* name) const;
    void unload();
    const QString& errorString() const { return m_error; }

private:
    void* m_handle = nullptr;
    QString m_error;
};

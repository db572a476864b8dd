#include "recorddb/FullDiskVfs.h"

#include <sqlite3.h>

#include <atomic>
#include <cstring>

namespace FullDiskVfs {
namespace {

std::atomic<bool> g_full{false};
sqlite3_vfs* g_system = nullptr;
sqlite3_vfs g_vfs;

// Our file, with the system's right behind it in the same allocation.
struct File
{
    sqlite3_file base;
    sqlite3_file* real;
};

sqlite3_file* real(sqlite3_file* f)
{
    return reinterpret_cast<File*>(f)->real;
}

int xClose(sqlite3_file* f)
{
    return real(f)->pMethods->xClose(real(f));
}
int xRead(sqlite3_file* f, void* data, int amount, sqlite3_int64 offset)
{
    return real(f)->pMethods->xRead(real(f), data, amount, offset);
}
int xWrite(sqlite3_file* f, const void* data, int amount, sqlite3_int64 offset)
{
    if (g_full)
        return SQLITE_FULL;
    return real(f)->pMethods->xWrite(real(f), data, amount, offset);
}
int xTruncate(sqlite3_file* f, sqlite3_int64 size)
{
    return real(f)->pMethods->xTruncate(real(f), size);
}
int xSync(sqlite3_file* f, int flags)
{
    return real(f)->pMethods->xSync(real(f), flags);
}
int xFileSize(sqlite3_file* f, sqlite3_int64* size)
{
    return real(f)->pMethods->xFileSize(real(f), size);
}
int xLock(sqlite3_file* f, int level)
{
    return real(f)->pMethods->xLock(real(f), level);
}
int xUnlock(sqlite3_file* f, int level)
{
    return real(f)->pMethods->xUnlock(real(f), level);
}
int xCheckReservedLock(sqlite3_file* f, int* out)
{
    return real(f)->pMethods->xCheckReservedLock(real(f), out);
}
int xFileControl(sqlite3_file* f, int op, void* arg)
{
    return real(f)->pMethods->xFileControl(real(f), op, arg);
}
int xSectorSize(sqlite3_file* f)
{
    return real(f)->pMethods->xSectorSize(real(f));
}
int xDeviceCharacteristics(sqlite3_file* f)
{
    return real(f)->pMethods->xDeviceCharacteristics(real(f));
}
int xShmMap(sqlite3_file* f, int page, int size, int extend, void volatile** out)
{
    return real(f)->pMethods->xShmMap(real(f), page, size, extend, out);
}
int xShmLock(sqlite3_file* f, int offset, int n, int flags)
{
    return real(f)->pMethods->xShmLock(real(f), offset, n, flags);
}
void xShmBarrier(sqlite3_file* f)
{
    real(f)->pMethods->xShmBarrier(real(f));
}
int xShmUnmap(sqlite3_file* f, int deleteFlag)
{
    return real(f)->pMethods->xShmUnmap(real(f), deleteFlag);
}

// Version 2: no memory mapping, so every write goes through xWrite.
const sqlite3_io_methods kMethods = {
    2, xClose, xRead, xWrite, xTruncate, xSync, xFileSize, xLock, xUnlock, xCheckReservedLock, xFileControl,
    xSectorSize, xDeviceCharacteristics, xShmMap, xShmLock, xShmBarrier, xShmUnmap, nullptr, nullptr,
};

int xOpen(sqlite3_vfs*, const char* name, sqlite3_file* file, int flags, int* outFlags)
{
    File* ours = reinterpret_cast<File*>(file);
    ours->real = reinterpret_cast<sqlite3_file*>(ours + 1);
    std::memset(ours->real, 0, size_t(g_system->szOsFile));
    const int opened = g_system->xOpen(g_system, name, ours->real, flags, outFlags);
    // SQLite closes a file only when its methods are set.
    ours->base.pMethods = ours->real->pMethods ? &kMethods : nullptr;
    return opened;
}

} // namespace

void install()
{
    if (g_system)
        return;
    g_system = sqlite3_vfs_find(nullptr);
    g_vfs = *g_system;
    g_vfs.zName = "full-disk";
    g_vfs.szOsFile = int(sizeof(File)) + g_system->szOsFile;
    g_vfs.xOpen = xOpen;
    g_vfs.pAppData = nullptr;
    sqlite3_vfs_register(&g_vfs, 1);
}

void setFull(bool full)
{
    g_full = full;
}

} // namespace FullDiskVfs

#pragma once

#include <QString>

// Where station files live. Every directory returned ends with "/".
namespace StationPaths {

// Directory of the running executable (/proc/self/exe).
QString executableDir();
// The executable's file name without extension (caption of some boxes).
QString applicationName();
// $XDG_DATA_HOME/vintrel-station/ (default ~/.local/share/vintrel-station/),
// created when asked for. Counters and record files live here.
QString dataDir();
// $XDG_RUNTIME_DIR/ or, where unset, dataDir().
QString runtimeDir();

// Tests point the station at temporary folders; an empty text restores the
// normal place. A missing trailing "/" is added.
void overrideExecutableDir(const QString& dir);
void overrideDataDir(const QString& dir);
void overrideRuntimeDir(const QString& dir);

} // namespace StationPaths

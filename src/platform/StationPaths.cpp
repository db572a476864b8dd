#include "platform/StationPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <mutex>

#include <climits>
#include <unistd.h>

namespace StationPaths {
namespace {

std::mutex g_mutex;
QString g_exeDir;
QString g_dataDir;
QString g_runtimeDir;

QString withSlash(QString dir)
{
    if (!dir.isEmpty() && !dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    return dir;
}

QString overridden(const QString& value)
{
    std::lock_guard lock(g_mutex);
    return value;
}

void setOverride(QString* slot, const QString& dir)
{
    std::lock_guard lock(g_mutex);
    *slot = withSlash(dir);
}

QString executablePath()
{
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer);
    if (n <= 0 || n == static_cast<ssize_t>(sizeof buffer))
        return {};
    return QFile::decodeName(QByteArray(buffer, n));
}

QString environmentDir(const char* name)
{
    // Relative paths in the XDG variables are invalid and ignored.
    const QString value = qEnvironmentVariable(name);
    return QDir::isAbsolutePath(value) ? withSlash(value) : QString();
}

} // namespace

QString executableDir()
{
    if (QString dir = overridden(g_exeDir); !dir.isEmpty())
        return dir;
    const QString path = executablePath();
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QStringLiteral("./") : path.left(slash + 1);
}

QString applicationName()
{
    return QFileInfo(executablePath()).completeBaseName();
}

QString dataDir()
{
    QString dir = overridden(g_dataDir);
    if (dir.isEmpty()) {
        QString base = environmentDir("XDG_DATA_HOME");
        if (base.isEmpty())
            base = QDir::homePath() + QStringLiteral("/.local/share/");
        dir = base + QStringLiteral("vintrel-station/");
    }
    QDir().mkpath(dir);
    return dir;
}

QString runtimeDir()
{
    if (QString dir = overridden(g_runtimeDir); !dir.isEmpty())
        return dir;
    if (QString dir = environmentDir("XDG_RUNTIME_DIR"); !dir.isEmpty())
        return dir;
    return dataDir();
}

void overrideExecutableDir(const QString& dir)
{
    setOverride(&g_exeDir, dir);
}

void overrideDataDir(const QString& dir)
{
    setOverride(&g_dataDir, dir);
}

void overrideRuntimeDir(const QString& dir)
{
    setOverride(&g_runtimeDir, dir);
}

} // namespace StationPaths

#include "platform/Shell.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>

#include <atomic>

namespace Shell {
namespace {

std::atomic<Hook> g_hook{nullptr};

} // namespace

bool openDocument(const QString& path)
{
    if (const Hook hook = g_hook.load()) {
        hook(path);
        return true;
    }
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

bool startProgram(const QString& path)
{
    if (const Hook hook = g_hook.load()) {
        hook(path);
        return true;
    }
    // Started in its own folder, where a sibling tool expects its files.
    return QProcess::startDetached(path, {}, QFileInfo(path).absolutePath());
}

void setHook(Hook hook)
{
    g_hook.store(hook);
}

} // namespace Shell

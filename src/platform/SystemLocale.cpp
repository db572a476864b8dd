#include "platform/SystemLocale.h"

#include <QLocale>

#include <mutex>

namespace SystemLocale {
namespace {

std::mutex g_mutex;
QString g_override;

QLocale current()
{
    std::lock_guard lock(g_mutex);
    return g_override.isEmpty() ? QLocale::system() : QLocale(g_override);
}

} // namespace

bool isChinese()
{
    return current().language() == QLocale::Chinese;
}

bool isSimplifiedChinaChinese()
{
    const QLocale locale = current();
    return locale.language() == QLocale::Chinese && locale.script() == QLocale::SimplifiedHanScript
        && locale.territory() == QLocale::China;
}

void overrideLocale(const char* name)
{
    std::lock_guard lock(g_mutex);
    g_override = name ? QString::fromLatin1(name) : QString();
}

} // namespace SystemLocale

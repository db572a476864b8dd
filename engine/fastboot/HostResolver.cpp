#include "HostResolver.h"

#include "SystemResolver.h"

#include <mutex>

namespace fastboot {

namespace {

std::mutex& currentMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<HostResolver>& slot()
{
    static std::shared_ptr<HostResolver> resolver = std::make_shared<SystemResolver>();
    return resolver;
}

} // namespace

std::shared_ptr<HostResolver> HostResolver::current()
{
    std::lock_guard lock(currentMutex());
    return slot();
}

void HostResolver::setCurrent(std::shared_ptr<HostResolver> resolver)
{
    std::lock_guard lock(currentMutex());
    slot() = resolver ? std::move(resolver) : std::make_shared<SystemResolver>();
}

} // namespace fastboot

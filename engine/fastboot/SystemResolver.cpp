#include "SystemResolver.h"

#include <cerrno>
#include <map>
#include <mutex>
#include <cstring>

#include <csignal>

#include <netdb.h>

// ThreadSanitizer cannot run code on the C library's resolver threads, which
// it did not start (its allocator crashes there); its builds look names up
// on the calling thread, without the deadline.
#if defined(__SANITIZE_THREAD__)
#define STATION_RESOLVE_INLINE 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define STATION_RESOLVE_INLINE 1
#endif
#endif

namespace fastboot {

struct SystemResolver::Lookup
{
    std::string host;
    std::string port;
    addrinfo hints{};
    gaicb request{};
    bool done = false; // guarded by the table's mutex
    int status = 0;
    std::vector<Address> addresses;
};

namespace {

// The lookups under way, by host and port. Never destroyed: the C library
// may still write into a request when the process ends.
struct PendingTable
{
    std::mutex mutex;
    std::map<std::string, std::shared_ptr<SystemResolver::Lookup>> lookups;
};

PendingTable& pending()
{
    static PendingTable* table = new PendingTable;
    return *table;
}

std::vector<HostResolver::Address> copyOf(const addrinfo* list)
{
    std::vector<HostResolver::Address> out;
    for (const addrinfo* a = list; a; a = a->ai_next) {
        if (a->ai_addrlen > sizeof(sockaddr_storage))
            continue;
        HostResolver::Address address;
        std::memcpy(&address.storage, a->ai_addr, a->ai_addrlen);
        address.length = a->ai_addrlen;
        address.family = a->ai_family;
        address.socktype = a->ai_socktype;
        address.protocol = a->ai_protocol;
        out.push_back(address);
    }
    return out;
}

addrinfo streamHints(int flags)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = flags;
    return hints;
}

std::string failureText(const std::string& host, int status)
{
    return "cannot resolve " + host + ": " + ::gai_strerror(status);
}

} // namespace

HostResolver::Outcome SystemResolver::resolve(const std::string& host, const std::string& port,
                                              Clock::time_point deadline, std::vector<Address>* addresses,
                                              std::string* error)
{
    // A numeric address needs no lookup.
    const addrinfo numeric = streamHints(AI_NUMERICHOST | AI_NUMERICSERV);
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), port.c_str(), &numeric, &found) == 0) {
        *addresses = copyOf(found);
        ::freeaddrinfo(found);
        return Outcome::Resolved;
    }
#ifdef STATION_RESOLVE_INLINE
    const addrinfo hints = streamHints(AI_NUMERICSERV);
    if (const int rc = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &found); rc != 0) {
        *error = failureText(host, rc);
        return Outcome::Failed;
    }
    *addresses = copyOf(found);
    ::freeaddrinfo(found);
    return Outcome::Resolved;
#endif
    const std::shared_ptr<Lookup> lookup = lookupFor(host, port, error);
    if (!lookup)
        return Outcome::Failed;
    for (;;) {
        if (harvest(*lookup)) {
            if (lookup->status != 0) {
                *error = failureText(host, lookup->status);
                return Outcome::Failed;
            }
            *addresses = lookup->addresses;
            return Outcome::Resolved;
        }
        const auto left = deadline - Clock::now();
        if (left <= Clock::duration::zero()) {
            *error = "cannot resolve " + host + " in time: the name lookup goes on";
            return Outcome::Pending;
        }
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        const timespec wait{time_t(ns / 1000000000), long(ns % 1000000000)};
        const gaicb* list[1] = {&lookup->request};
        ::gai_suspend(list, 1, &wait);
    }
}

std::shared_ptr<SystemResolver::Lookup> SystemResolver::lookupFor(const std::string& host, const std::string& port,
                                                                  std::string* error)
{
    const std::string key = host + '\n' + port;
    std::lock_guard lock(pending().mutex);
    if (const auto it = pending().lookups.find(key); it != pending().lookups.end())
        return it->second;
    auto lookup = std::make_shared<Lookup>();
    lookup->host = host;
    lookup->port = port;
    lookup->hints = streamHints(AI_NUMERICSERV);
    lookup->request.ar_name = lookup->host.c_str();
    lookup->request.ar_service = lookup->port.c_str();
    lookup->request.ar_request = &lookup->hints;
    gaicb* list[1] = {&lookup->request};
    sigevent none{};
    none.sigev_notify = SIGEV_NONE;
    const int rc = ::getaddrinfo_a(GAI_NOWAIT, list, 1, &none);
    if (rc != 0) {
        *error = failureText(host, rc);
        return nullptr;
    }
    pending().lookups[key] = lookup;
    return lookup;
}

bool SystemResolver::harvest(Lookup& lookup)
{
    std::lock_guard lock(pending().mutex);
    if (lookup.done)
        return true;
    const int status = ::gai_error(&lookup.request);
    if (status == EAI_INPROGRESS)
        return false;
    lookup.done = true;
    lookup.status = status;
    if (status == 0) {
        lookup.addresses = copyOf(lookup.request.ar_result);
        ::freeaddrinfo(lookup.request.ar_result);
        lookup.request.ar_result = nullptr;
    }
    pending().lookups.erase(lookup.host + '\n' + lookup.port);
    return true;
}

} // namespace fastboot

#include "recorddb/HostResolver.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace {

// Shared by the caller and the helper thread; whoever leaves last frees it.
struct Pending
{
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    HostResolver::Answer answer;
};

} // namespace

HostResolver::HostResolver(Lookup lookup)
    : m_lookup(lookup ? std::move(lookup) : Lookup(&HostResolver::systemLookup))
{
}

bool HostResolver::isNumeric(const std::string& host)
{
    unsigned char buffer[sizeof(in6_addr)];
    return inet_pton(AF_INET, host.c_str(), buffer) == 1 || inet_pton(AF_INET6, host.c_str(), buffer) == 1;
}

HostResolver::Answer HostResolver::systemLookup(const std::string& host)
{
    Answer answer;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int failed = getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (failed) {
        answer.error = gai_strerror(failed);
        return answer;
    }
    for (const addrinfo* a = found; a; a = a->ai_next) {
        char text[INET6_ADDRSTRLEN] = {};
        const void* address = a->ai_family == AF_INET
            ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr)
            : static_cast<const void*>(&reinterpret_cast<const sockaddr_in6*>(a->ai_addr)->sin6_addr);
        if ((a->ai_family == AF_INET || a->ai_family == AF_INET6)
            && inet_ntop(a->ai_family, address, text, sizeof text)
            && std::find(answer.addresses.begin(), answer.addresses.end(), text) == answer.addresses.end())
            answer.addresses.emplace_back(text);
    }
    freeaddrinfo(found);
    if (answer.addresses.empty())
        answer.error = "no address";
    return answer;
}

HostResolver::Outcome HostResolver::resolve(const std::string& host, std::chrono::steady_clock::time_point deadline,
                                            const std::function<bool()>& stopRequested, Answer* answer) const
{
    auto pending = std::make_shared<Pending>();
    // The helper holds its own copies: it may outlive this call and its caller.
    try {
        std::thread([pending, lookup = m_lookup, host] {
            Answer found = lookup(host);
            const std::lock_guard lock(pending->mutex);
            pending->answer = std::move(found);
            pending->finished = true;
            pending->done.notify_all();
        }).detach();
    } catch (const std::system_error& e) {
        answer->addresses.clear();
        answer->error = std::string("cannot start the name lookup: ") + e.what();
        return Outcome::Failed;
    }

    std::unique_lock lock(pending->mutex);
    for (;;) {
        if (pending->finished) {
            *answer = pending->answer;
            return answer->addresses.empty() ? Outcome::Failed : Outcome::Resolved;
        }
        if (stopRequested && stopRequested())
            return Outcome::Stopped;
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline)
            return Outcome::TimedOut;
        pending->done.wait_until(lock, std::min(deadline, now + pollSlice));
    }
}

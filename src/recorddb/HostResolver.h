#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

// Name lookups for the record database with a deadline. libpq resolves a
// host name inside its connect call, which blocks for as long as the DNS
// server takes; the station looks the name up itself instead and hands
// libpq the addresses.
//
// The lookup runs on a helper thread that owns everything it touches, so a
// lookup that does not finish can be abandoned: the caller returns at its
// deadline or stop request, and the helper ends whenever the system's
// lookup does, touching nothing of the caller's.
class HostResolver final
{
public:
    struct Answer
    {
        std::vector<std::string> addresses; // numeric, in the system's order
        std::string error;                  // why there are none
    };
    // The blocking lookup itself; the system's getaddrinfo by default.
    using Lookup = std::function<Answer(const std::string& host)>;

    explicit HostResolver(Lookup lookup = {});

    enum class Outcome { Resolved, Failed, TimedOut, Stopped };
    // Waits at most until deadline, looking at stopRequested every
    // pollSlice.
    Outcome resolve(const std::string& host, std::chrono::steady_clock::time_point deadline,
                    const std::function<bool()>& stopRequested, Answer* answer) const;

    // True for a numeric IPv4 or IPv6 address, which needs no lookup.
    static bool isNumeric(const std::string& host);
    static Answer systemLookup(const std::string& host);

    static constexpr std::chrono::milliseconds pollSlice{100};

private:
    Lookup m_lookup;
};

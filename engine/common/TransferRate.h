#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>

namespace engine {

// The speed of a download over its last few seconds, and the time its
// remaining bytes take at that speed. Times come from the caller, so that
// tests can feed their own clock.
class TransferRate final
{
public:
    using Clock = std::chrono::steady_clock;

    // The rate covers this much of the recent past.
    static constexpr std::chrono::milliseconds kWindow{3000};
    // Before this much time has passed there is no rate to show.
    static constexpr std::chrono::milliseconds kMinSpan{250};

    // The bytes sent so far (a running total) at the given time.
    void record(uint64_t sentTotal, Clock::time_point now);

    // Bytes per second over the window that ends at now; empty while the
    // samples cover less than kMinSpan.
    std::optional<double> bytesPerSecond(Clock::time_point now) const;

    // "38.2 MB/s, 1:12 left" (decimal megabytes); without the time left
    // when nothing moves.
    static std::string describe(double bytesPerSecond, uint64_t remainingBytes);
    // "0:07", "1:12", "1:02:03": whole seconds, rounded up.
    static std::string clockText(uint64_t seconds);

private:
    struct Sample
    {
        Clock::time_point at;
        uint64_t total;
    };
    std::deque<Sample> m_samples;
};

} // namespace engine

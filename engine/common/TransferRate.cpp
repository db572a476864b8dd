#include "TransferRate.h"

#include <cmath>
#include <cstdio>

namespace engine {

void TransferRate::record(uint64_t sentTotal, Clock::time_point now)
{
    m_samples.push_back({now, sentTotal});
    // Keep one sample at or before the window's start as its base.
    while (m_samples.size() > 2 && m_samples[1].at <= now - kWindow)
        m_samples.pop_front();
}

std::optional<double> TransferRate::bytesPerSecond(Clock::time_point now) const
{
    if (m_samples.empty())
        return std::nullopt;
    const Sample& first = m_samples.front();
    const Sample& last = m_samples.back();
    // Time without a new sample counts as time without bytes: a stalled
    // device shows its speed falling.
    const auto span = std::max(now, last.at) - first.at;
    if (span < kMinSpan)
        return std::nullopt;
    const double seconds = std::chrono::duration<double>(span).count();
    return double(last.total - first.total) / seconds;
}

std::string TransferRate::clockText(uint64_t seconds)
{
    char text[32];
    if (seconds >= 3600) {
        std::snprintf(text, sizeof text, "%llu:%02u:%02u", static_cast<unsigned long long>(seconds / 3600),
                      unsigned(seconds / 60 % 60), unsigned(seconds % 60));
    } else {
        std::snprintf(text, sizeof text, "%u:%02u", unsigned(seconds / 60), unsigned(seconds % 60));
    }
    return text;
}

std::string TransferRate::describe(double bytesPerSecond, uint64_t remainingBytes)
{
    char speed[32];
    std::snprintf(speed, sizeof speed, "%.1f MB/s", bytesPerSecond / 1e6);
    // Below 1 kB/s the time left would be a meaningless huge number.
    if (bytesPerSecond < 1000.0)
        return speed;
    const double seconds = std::ceil(double(remainingBytes) / bytesPerSecond);
    return std::string(speed) + ", " + clockText(uint64_t(seconds)) + " left";
}

} // namespace engine

// The speed and time left of a line's download, on a clock the test sets.
#include "TransferRate.h"

#include <gtest/gtest.h>

using engine::TransferRate;
using namespace std::chrono_literals;

namespace {

TEST(TransferRateTest, RateCoversOnlyTheLastSecondsAndFallsWhileStalled)
{
    TransferRate rate;
    const auto t0 = TransferRate::Clock::time_point{} + 100s;
    rate.record(0, t0);
    EXPECT_FALSE(rate.bytesPerSecond(t0 + 100ms)); // too early to say
    // 10 MB/s for ten seconds, then 40 MB/s: after three seconds at the new
    // speed the old one no longer counts.
    uint64_t total = 0;
    auto t = t0;
    for (int i = 0; i < 100; ++i) {
        t += 100ms;
        total += 1'000'000;
        rate.record(total, t);
    }
    ASSERT_TRUE(rate.bytesPerSecond(t));
    EXPECT_NEAR(*rate.bytesPerSecond(t), 10e6, 1e3);
    for (int i = 0; i < 30; ++i) {
        t += 100ms;
        total += 4'000'000;
        rate.record(total, t);
    }
    EXPECT_NEAR(*rate.bytesPerSecond(t), 40e6, 1e3);
    // Nothing moves for three seconds: the same bytes over twice the time.
    EXPECT_NEAR(*rate.bytesPerSecond(t + 3s), 20e6, 1e3);
}

TEST(TransferRateTest, TextsInDecimalMegabytesWithTheTimeLeftRoundedUp)
{
    EXPECT_EQ(TransferRate::describe(38.2e6, uint64_t(38.2e6 * 72)), "38.2 MB/s, 1:12 left");
    EXPECT_EQ(TransferRate::describe(10e6, 10'000'001), "10.0 MB/s, 0:02 left");
    EXPECT_EQ(TransferRate::describe(1e6, 0), "1.0 MB/s, 0:00 left");
    EXPECT_EQ(TransferRate::describe(1e6, 3723'000'000ULL), "1.0 MB/s, 1:02:03 left");
    EXPECT_EQ(TransferRate::describe(0, 1'000'000), "0.0 MB/s"); // stalled: no time left to tell
    EXPECT_EQ(TransferRate::clockText(59), "0:59");
    EXPECT_EQ(TransferRate::clockText(100 * 3600), "100:00:00");
}

} // namespace

#include "TestRandom.h"

#include <QString>

#include <gtest/gtest.h>

#include <cstdio>

namespace {

quint32 chooseSeed()
{
    bool ok = false;
    const quint32 given = qEnvironmentVariable("STATION_TEST_SEED").toUInt(&ok, 0);
    return ok ? given : QRandomGenerator::system()->generate();
}

} // namespace

TestRandom::TestRandom()
    : m_seed(chooseSeed())
    , m_generator(m_seed)
{
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::printf("%s.%s: random seed %u (replay with STATION_TEST_SEED=%u)\n",
                test ? test->test_suite_name() : "?", test ? test->name() : "?", m_seed, m_seed);
    std::fflush(stdout);
}

// The fastboot engine's presence over TCP: what the port scan hears while
// units reboot, boot their systems, are pulled and replaced; read-back that
// waits for the reboot; queries that never touch a device; and an engine
// whose name lookups hang.
#include "engine/EngineChecks.h"
#include "engine/FastbootStation.h"
#include "engine/ScriptedFastbootServer.h"

#include "FastbootEngine.h"
#include "FastbootResults.h"
#include "FlashEngine.h"
#include "HostResolver.h"
#include "SystemResolver.h"

#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <thread>

namespace {

using EngineChecks::enumerate;
using EngineChecks::hasMessage;
using namespace std::chrono_literals;

const std::string kOffered1 = "ABC_V1.0,ABC_INT_V1.0,356938035643801";

class FastbootPresenceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        station.setPackage(station.makePackage(QStringLiteral("pkg"), "ABC_V2.0", "ABC_INT_V2.0"));
    }
    // Waits until the monitor has looked at the port a few more times.
    bool probedAgain(int port, int times = 3)
    {
        const int seen = station.connections(port);
        return QTest::qWaitFor([&] { return station.connections(port) >= seen + times; }, 20000);
    }

    FastbootStation station;
};

class RebootedUnit : public FastbootPresenceTest, public ::testing::WithParamInterface<bool>
{
};

TEST_P(RebootedUnit, KeepsItsSocketUntilPulledAndTheHoldIsOver)
{
    const bool readBack = GetParam();
    station.addDevice(1);
    const QByteArray keys = "PROBE_INTERVAL_MS=100\r\n" + QByteArray(readBack ? "READBACK=1\r\n" : "");
    station.writeConfig(keys + "REBOOT_HOLD_S=60\r\n");
    ASSERT_TRUE(station.load());
    ASSERT_TRUE(station.waitQuery(1, 0, kOffered1));
    ASSERT_TRUE(station.download(0, 1));
    ASSERT_EQ(station.resultOf(0), FASTBOOT_RESULT_SUCCESS) << station.lastMessage(0);

    // Booted into its system: its endpoint is silent, the unit still there.
    ASSERT_TRUE(QTest::qWaitFor([&] { return station.device(1).inSystem(); }, 10000));
    ASSERT_TRUE(probedAgain(1));
    std::string text;
    EXPECT_EQ(station.query(1, &text), 0);
    EXPECT_EQ(text, kOffered1);
    EXPECT_EQ(enumerate(station.engine()), (std::vector<int32_t>{1}));

    // Booted to its bootloader again, with the new version: the same unit,
    // shown as it was offered.
    station.device(1).bootToBootloader();
    ASSERT_TRUE(probedAgain(1));
    EXPECT_EQ(station.query(1, &text), 0);
    EXPECT_EQ(text, kOffered1);

    // Pulled: the port is empty once the hold is over.
    station.writeConfig(keys + "REBOOT_HOLD_S=1\r\n");
    const int events = station.handler.count('D');
    station.unplug(1);
    ASSERT_TRUE(station.waitQuery(1, -1));
    // The monitor raises the device event after the round that saw the
    // port empty; a query can see the empty port a moment before.
    EXPECT_TRUE(QTest::qWaitFor([&] { return station.handler.count('D') > events; }, 10000));
}

INSTANTIATE_TEST_SUITE_P(WithAndWithoutReadBack, RebootedUnit, ::testing::Bool());

TEST_F(FastbootPresenceTest, AnotherUnitPutInDuringTheHoldIsOfferedAsNew)
{
    station.addDevice(2);
    station.writeConfig("PROBE_INTERVAL_MS=100\r\nREBOOT_HOLD_S=60\r\n");
    ASSERT_TRUE(station.load());
    ASSERT_TRUE(station.waitQuery(2, 0));
    ASSERT_TRUE(station.download(0, 2));
    ASSERT_TRUE(QTest::qWaitFor([&] { return station.device(2).inSystem(); }, 10000));
    ASSERT_TRUE(probedAgain(2));
    ASSERT_EQ(station.query(2), 0);

    auto other = station.deviceSettings(2);
    other.imei = "490154203237518";
    station.swap(2, other);
    // Empty once, and the tool hears again; then the new unit.
    ASSERT_TRUE(station.waitQuery(2, -1));
    const int events = station.handler.count('D');
    ASSERT_TRUE(QTest::qWaitFor([&] { return station.handler.count('D') > events; }, 10000));
    std::string text;
    EXPECT_EQ(station.query(2, &text), 0);
    EXPECT_EQ(text, "ABC_V1.0,ABC_INT_V1.0,490154203237518");
}

TEST_F(FastbootPresenceTest, ReadBackWaitsUntilTheDeviceWentAwayAndCameBack)
{
    // Bootloaders that still answer a while after their OKAY, and one that
    // never restarts.
    const int lingers[] = {0, 50, 500};
    for (int i = 0; i < 3; ++i) {
        auto s = station.deviceSettings(i + 1);
        s.lingerMs = lingers[i];
        s.awayMs = 1000; // time enough to see it gone, also on a busy machine
        station.addDevice(i + 1, s);
    }
    auto stuck = station.deviceSettings(4);
    stuck.neverReboots = true;
    station.addDevice(4, stuck);
    station.writeConfig("READBACK=1\r\nREBOOT=0\r\nARRIVAL_TIMEOUT_S=10\r\n");
    ASSERT_TRUE(station.load());

    std::vector<std::thread> lines;
    for (int port = 1; port <= 4; ++port)
        lines.emplace_back([&, port] { station.engine()->Download(port - 1, port); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return station.handler.count('R') == 4; }, 60000));
    for (auto& t : lines)
        t.join();
    for (int line = 0; line < 3; ++line)
        EXPECT_EQ(station.resultOf(line), FASTBOOT_RESULT_SUCCESS) << lingers[line] << " " << station.lastMessage(line);
    EXPECT_EQ(station.resultOf(3), FASTBOOT_RESULT_NO_DEVICE);
    EXPECT_NE(station.lastMessage(3).find("did not restart within 10 s of reboot-bootloader"), std::string::npos)
        << station.lastMessage(3);
}

TEST_F(FastbootPresenceTest, QueriesNeverTouchADeviceAndBadDevicesAreNotReady)
{
    station.addDevice(1);
    station.addDevice(2);
    ScriptedFastbootServer silent(ScriptedFastbootServer::silence());
    ScriptedFastbootServer garbage(ScriptedFastbootServer::always("\x1b[2J garbage"));
    std::atomic<int> serials{0};
    ScriptedFastbootServer flapping([&](const std::string& command) {
        ScriptedFastbootServer::Answer a;
        const std::string value = command == "getvar:serialno" ? "SN" + std::to_string(++serials) : "X";
        a.bytes = ScriptedFastbootServer::frame("OKAY" + value);
        return a;
    });
    // One round only: whatever connects later is a query's doing.
    station.writeConfig("PROBE_INTERVAL_MS=60000\r\nPORT.5=" + QByteArray::fromStdString(silent.endpoint())
                        + "\r\nPORT.6=tcp:never-resolves.invalid:5554\r\nPORT.7="
                        + QByteArray::fromStdString(garbage.endpoint()) + "\r\nPORT.8="
                        + QByteArray::fromStdString(flapping.endpoint()) + "\r\n");
    ASSERT_TRUE(station.load());
    ASSERT_TRUE(station.waitQuery(8, 2, {}, 30000));
    ASSERT_TRUE(station.waitQuery(1, 0));
    ASSERT_TRUE(station.waitQuery(2, 0));
    EXPECT_EQ(station.query(5), 2);
    EXPECT_TRUE(hasMessage(station.handler, 0, "The device on port 5 does not answer its identity"));
    EXPECT_EQ(station.query(6), -1);
    EXPECT_EQ(station.query(7), 2);
    EXPECT_TRUE(hasMessage(station.handler, 0, "The device on port 7 does not answer its identity"));
    EXPECT_EQ(station.query(8), 2);
    EXPECT_TRUE(hasMessage(station.handler, 0, "The device on port 8 gives another serial number"));

    const int first = station.connections(1);
    const int second = station.connections(2);
    for (int scan = 0; scan < 200; ++scan) {
        for (int port = 1; port <= 8; ++port)
            station.query(port);
        EXPECT_EQ(enumerate(station.engine()), (std::vector<int32_t>{1, 2, 5, 7, 8}));
    }
    EXPECT_EQ(station.connections(1), first);
    EXPECT_EQ(station.connections(2), second);
}

// A lookup that takes six seconds and, as the system's, returns by its
// caller's deadline.
class SlowResolver final : public fastboot::HostResolver
{
public:
    Outcome resolve(const std::string&, const std::string&, fastboot::Clock::time_point deadline,
                    std::vector<Address>*, std::string* error) override
    {
        ++active;
        ++calls;
        std::this_thread::sleep_until(std::min(deadline, m_done));
        const bool done = fastboot::Clock::now() >= m_done;
        --active;
        *error = done ? "no such host" : "still looking";
        return done ? Outcome::Failed : Outcome::Pending;
    }

    std::atomic<int> active{0};
    std::atomic<int> calls{0};

private:
    const fastboot::Clock::time_point m_done = fastboot::Clock::now() + 6s;
};

TEST(FastbootEngineClose, DestroyWaitsForEveryThreadAndNotForASlowLookup)
{
    TempDir station;
    station.write(QStringLiteral("config.ini"), "[FASTBOOT_Engine]\r\nPORT.1=tcp:slow-name.example:5554\r\n");
    const auto resolver = std::make_shared<SlowResolver>();
    auto engine = std::make_unique<fastboot::FastbootEngine>(station.path().toStdString(), resolver);
    ASSERT_TRUE(QTest::qWaitFor([&] { return resolver->calls > 0; }, 10000));
    const auto start = fastboot::Clock::now();
    engine.reset();
    const auto took = fastboot::Clock::now() - start;
    // No thread of the engine is left in the lookup, or anywhere else.
    EXPECT_EQ(resolver->active, 0);
    const int calls = resolver->calls;
    EXPECT_LT(took, 5s); // the lookup's six seconds are not waited for
    EXPECT_EQ(resolver->calls, calls);
}

TEST(FastbootEngineClose, SystemLookupsEndByTheirDeadline)
{
    fastboot::SystemResolver resolver;
    std::vector<fastboot::HostResolver::Address> found;
    std::string why;
    EXPECT_EQ(resolver.resolve("127.0.0.1", "5554", fastboot::Clock::now(), &found, &why),
              fastboot::HostResolver::Outcome::Resolved);
    ASSERT_EQ(found.size(), 1u);
    // Whatever the machine's resolver does with it, the call returns.
    found.clear();
    EXPECT_NE(resolver.resolve("never-resolves.invalid", "5554", fastboot::Clock::now() + 200ms, &found, &why),
              fastboot::HostResolver::Outcome::Resolved);
    EXPECT_FALSE(why.empty());
}

} // namespace

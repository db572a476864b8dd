#include "engine/EngineChecks.h"
#include "engine/EngineStation.h"
#include "lines/EventSink.h"

#include "FlashEngine.h"

#include <QDir>
#include <QFile>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

namespace {

using EngineChecks::readFile;

std::vector<std::string> messages(const RecordingHandler& h, int line)
{
    std::vector<std::string> out;
    for (const auto& e : h.of('M', line))
        out.push_back(e.text);
    return out;
}

bool contains(const std::vector<std::string>& texts, const std::string& part)
{
    return std::any_of(texts.begin(), texts.end(), [&](const std::string& t) { return t.find(part) != t.npos; });
}

class SimEngineTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        package = station.makePackage(QStringLiteral("pkg2"), "ABC_V2.0", "ABC_INT_V2.0");
        station.writeConfig(package);
        ASSERT_TRUE(station.load());
    }

    int32_t resultOf(int line) const
    {
        const auto* r = station.handler.last('R', line);
        return r ? r->value : -12345;
    }

    void expectPackageOn(int port) const
    {
        for (const char* name : {"system.img", "boot.img", "empty.bin"}) {
            EXPECT_EQ(readFile(station.busFile(QStringLiteral("port-%1.data/%2").arg(port).arg(name))),
                      readFile(package + QLatin1Char('/') + QLatin1String(name)))
                << "port " << port << " " << name;
        }
        EXPECT_FALSE(QDir(station.busFile(QStringLiteral("port-%1.data/nested").arg(port))).exists());
    }

    EngineStation station;
    QString package;
};

TEST_F(SimEngineTest, QueryAndEnumerateReportTheBus)
{
    std::string text = "x";
    EXPECT_EQ(station.query(12, &text), -1);
    EXPECT_EQ(text, "");
    station.plug(12);
    EXPECT_EQ(station.query(12, &text), 0);
    EXPECT_EQ(text, "ABC_V1.0,ABC_INT_V1.0,356938035643809");
    station.plug(3, "ARM");
    EXPECT_EQ(station.query(3), 1);
    EXPECT_EQ(station.query(0), -1);

    std::vector<int32_t> ports(256, 0);
    int32_t count = 256;
    station.engine()->EnumeratePorts(ports.data(), &count);
    ASSERT_EQ(count, 2);
    EXPECT_EQ(ports[0], 3);
    EXPECT_EQ(ports[1], 12);
    count = 1; // capacity is respected
    ports.assign(256, 0);
    station.engine()->EnumeratePorts(ports.data(), &count);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(ports[1], 0);
}

TEST_F(SimEngineTest, PlugAndUnplugRaiseDeviceEventsThatMayQueryBack)
{
    // As the tool does: query the engine from the window thread while the
    // engine's watcher thread waits in its event.
    std::vector<int32_t> seen;
    station.handler.hook = [&](const RecordingHandler::Event& e) {
        if (e.kind == 'D')
            seen.push_back(station.query(7));
    };
    station.plug(7);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !seen.empty() && seen.back() == 0; }, 10000));
    const auto* device = station.handler.last('D');
    EXPECT_EQ(device->value, 1);
    EXPECT_EQ(device->line, 0);
    EXPECT_TRUE(device->onWindowThread);
    ASSERT_TRUE(QFile::remove(station.busFile(QStringLiteral("port-7.ini"))));
    EXPECT_TRUE(QTest::qWaitFor([&] { return seen.back() == -1; }, 10000));
}

TEST_F(SimEngineTest, DownloadWritesThePackageAndGivesTheDeviceItsVersions)
{
    station.plug(5, "READY", "Speed=50000000\n");
    ASSERT_TRUE(station.download(2, 5));
    EXPECT_EQ(resultOf(2), 0);

    std::vector<int32_t> progress;
    for (const auto& e : station.handler.of('P', 2))
        progress.push_back(e.value);
    ASSERT_GE(progress.size(), 3u);
    EXPECT_EQ(progress.front(), 0);
    EXPECT_EQ(progress.back(), 100);
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    const auto texts = messages(station.handler, 2);
    EXPECT_TRUE(contains(texts, "Erasing"));
    EXPECT_TRUE(contains(texts, "Writing system.img"));
    EXPECT_TRUE(contains(texts, "Verifying"));
    EXPECT_EQ(station.handler.events.back().kind, 'R');

    expectPackageOn(5);
    std::string text;
    EXPECT_EQ(station.query(5, &text), 0);
    EXPECT_EQ(text, "ABC_V2.0,ABC_INT_V2.0,356938035643809");
    EXPECT_TRUE(readFile(station.busFile(QStringLiteral("port-5.ini"))).contains("Speed=50000000"));
}

TEST_F(SimEngineTest, EachDownloadTakesTheVersionDirectoryAnew)
{
    station.plug(5);
    ASSERT_TRUE(station.download(0, 5));
    package = station.makePackage(QStringLiteral("pkg3"), "ABC_V3.0", "ABC_INT_V3.0", 10 * 1024);
    station.writeConfig(package);
    station.engine()->ReloadSettings();
    ASSERT_TRUE(station.download(0, 5));
    EXPECT_EQ(resultOf(0), 0);
    expectPackageOn(5);
    std::string text;
    station.query(5, &text);
    EXPECT_EQ(text, "ABC_V3.0,ABC_INT_V3.0,356938035643809");
}

TEST_F(SimEngineTest, DeviceThatFailsAtHalfEndsWithAFailure)
{
    station.plug(4, "READY", "FailAt=50\n");
    ASSERT_TRUE(station.download(1, 4));
    EXPECT_NE(resultOf(1), 0);
    EXPECT_EQ(station.handler.last('P', 1)->value, 50);
    EXPECT_TRUE(contains(messages(station.handler, 1), "failed at 50%"));
    std::string text;
    station.query(4, &text);
    EXPECT_EQ(text, "ABC_V1.0,ABC_INT_V1.0,356938035643809"); // versions untouched
}

TEST_F(SimEngineTest, UnplugDuringTheDownloadEndsWithAFailure)
{
    const QString device = station.busFile(QStringLiteral("port-6.ini"));
    station.handler.hook = [&](const RecordingHandler::Event& e) {
        // Pulled out after the first chunk, while the engine waits for us.
        if (e.kind == 'P' && e.value > 0 && QFile::exists(device))
            QFile::remove(device);
    };
    station.plug(6);
    ASSERT_TRUE(station.download(3, 6));
    EXPECT_NE(resultOf(3), 0);
    EXPECT_LT(station.handler.last('P', 3)->value, 100);
    EXPECT_TRUE(contains(messages(station.handler, 3), "unplugged"));
    EXPECT_FALSE(QFile::exists(device)); // not brought back by the engine
}

TEST_F(SimEngineTest, DownloadRefusesMissingPackageArmModeAndAbsentDevice)
{
    station.writeConfig(package + QStringLiteral("-gone"));
    station.plug(2);
    ASSERT_TRUE(station.download(0, 2));
    EXPECT_NE(resultOf(0), 0);
    EXPECT_TRUE(contains(messages(station.handler, 0), "Version directory not found"));

    station.writeConfig(package);
    station.plug(3, "ARM");
    ASSERT_TRUE(station.download(1, 3));
    EXPECT_NE(resultOf(1), 0);
    EXPECT_TRUE(contains(messages(station.handler, 1), "ARM mode"));

    ASSERT_TRUE(station.download(2, 99));
    EXPECT_NE(resultOf(2), 0);
    EXPECT_TRUE(contains(messages(station.handler, 2), "No device"));
    EXPECT_EQ(station.handler.count('P'), 0); // nothing written anywhere
}

TEST_F(SimEngineTest, EightDownloadsAtOnceAllSucceed)
{
    for (int port = 1; port <= 8; ++port)
        station.plug(port);
    std::vector<std::thread> workers;
    for (int line = 0; line < 8; ++line)
        workers.emplace_back([this, line] { station.engine()->Download(line, line + 1); });
    const bool done = QTest::qWaitFor([&] { return station.handler.count('R') == 8; }, 60000);
    if (!done)
        station.binding().Sink()->Detach();
    for (auto& w : workers)
        w.join();
    ASSERT_TRUE(done);
    for (int line = 0; line < 8; ++line) {
        EXPECT_EQ(resultOf(line), 0) << "line " << line;
        expectPackageOn(line + 1);
    }
}

TEST_F(SimEngineTest, ReleaseDoesNotDeadlockWithAWatcherWaitingForTheWindow)
{
    station.plug(9);
    // The window thread does not run its event loop here: the watcher's
    // device event stays blocked in the sink.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (station.binding().Sink()->Waiting() == 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(station.binding().Sink()->Waiting(), 1);
    station.binding().Release(); // returns: the sink lets the watcher go
    EXPECT_EQ(station.engine(), nullptr);
    QCoreApplication::processEvents();
    EXPECT_EQ(station.handler.count('D'), 0);
}

} // namespace

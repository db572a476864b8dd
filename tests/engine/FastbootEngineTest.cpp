// The built fastboot engine library against emulated devices in process.
#include "engine/EngineChecks.h"
#include "engine/FastbootStation.h"
#include "engine/ScriptedFastbootServer.h"

#include "FastbootResults.h"
#include "FlashEngine.h"

#include <QFile>
#include <QRegularExpression>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

namespace {

using EngineChecks::readFile;
using EngineChecks::hasMessage;
using EngineChecks::enumerate;

class FastbootEngineTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        station.setPackage(station.makePackage(QStringLiteral("pkg"), "ABC_V2.0", "ABC_INT_V2.0"));
    }
    // The partition equals the image, up to the zeros that fill its last block.
    void expectFlashed(int port, const char* partition, const QString& image)
    {
        const QByteArray want = readFile(image);
        const QByteArray have = readFile(station.device(port).partitionPath(partition));
        ASSERT_GE(have.size(), want.size()) << partition;
        EXPECT_TRUE(have.startsWith(want)) << partition;
        EXPECT_EQ(have.mid(want.size()), QByteArray(have.size() - want.size(), '\0')) << partition;
    }

    FastbootStation station;
};

TEST_F(FastbootEngineTest, QueryEnumerateAndPresenceFollowTheDevices)
{
    station.addDevice(3);
    station.addDevice(7);
    ASSERT_TRUE(station.load());
    std::string text;
    // The monitor reads each identity once, off the caller's thread.
    ASSERT_TRUE(station.waitQuery(3, 0, "ABC_V1.0,ABC_INT_V1.0,356938035643803"));
    ASSERT_TRUE(station.waitQuery(7, 0));
    EXPECT_EQ(station.query(5, &text), -1); // no PORT.5
    EXPECT_EQ(text, "");
    EXPECT_EQ(enumerate(station.engine()), (std::vector<int32_t>{3, 7}));

    // The monitor sees the device go and come back, and says so.
    ASSERT_TRUE(QTest::qWaitFor([&] { return station.handler.count('D') >= 1; }, 10000));
    int events = station.handler.count('D');
    station.unplug(7);
    ASSERT_TRUE(QTest::qWaitFor([&] { return station.handler.count('D') > events; }, 10000));
    EXPECT_EQ(station.handler.last('D')->value, 1);
    EXPECT_EQ(station.query(7), -1);
    EXPECT_EQ(enumerate(station.engine()), (std::vector<int32_t>{3}));
    events = station.handler.count('D');
    station.replug(7);
    ASSERT_TRUE(QTest::qWaitFor([&] { return station.handler.count('D') > events; }, 10000));
    EXPECT_EQ(station.query(7), 0);
}

TEST_F(FastbootEngineTest, IdentityFieldsComeFromTheirSources)
{
    auto settings = station.deviceSettings(4);
    settings.oem["read-imei"] = "  490154203237518  ";
    station.addDevice(4, settings);
    station.writeConfig("IMEI=oem:read-imei\r\nINTERNAL_VERSION=getvar:no-such-variable\r\n");
    ASSERT_TRUE(station.load());
    // A FAIL leaves the field empty.
    EXPECT_TRUE(station.waitQuery(4, 0, "ABC_V1.0,,490154203237518"));
}

TEST_F(FastbootEngineTest, DownloadWritesEveryImageInSparsePiecesAndReboots)
{
    auto settings = station.deviceSettings(2);
    settings.maxDownload = 128 * 1024; // system.img goes in pieces, boot.img whole
    station.addDevice(2, settings);
    ASSERT_TRUE(station.load());
    ASSERT_TRUE(station.waitQuery(2, 0)); // offered, as the tool starts only offered lines
    ASSERT_TRUE(station.download(1, 2));
    EXPECT_EQ(station.resultOf(1), FASTBOOT_RESULT_SUCCESS) << station.lastMessage(1);
    expectFlashed(2, "boot", station.packageFile(QStringLiteral("boot.img")));
    expectFlashed(2, "system", station.packageFile(QStringLiteral("system.img")));
    EXPECT_EQ(station.device(2).flashCount("boot"), 1);
    EXPECT_GE(station.device(2).flashCount("system"), 5);

    const auto messages = station.handler.of('M', 1);
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.front().text, "Writing boot.img"); // the default order: boot before system
    EXPECT_TRUE(hasMessage(station.handler, 1, "Writing system.img"));
    EXPECT_TRUE(hasMessage(station.handler, 1, "writing 'system'")); // the device's INFO lines
    EXPECT_EQ(messages.back().text, "Download complete");
    const auto progress = station.handler.of('P', 1);
    ASSERT_GE(progress.size(), 2u);
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end(),
                               [](const auto& a, const auto& b) { return a.value < b.value; }));
    EXPECT_EQ(progress.back().value, 100);

    // It rebooted into its system with the package's versions; the unit
    // keeps its socket and the identity it was offered with.
    ASSERT_TRUE(QTest::qWaitFor([&] { return station.device(2).inSystem(); }, 10000));
    EXPECT_EQ(station.device(2).display(), "ABC_V2.0");
    EXPECT_EQ(station.query(2), 0);
}

TEST_F(FastbootEngineTest, FlashPlanSetsTheOrderAndBadPlansStopBeforeWriting)
{
    station.addDevice(1);
    ASSERT_TRUE(station.load());
    QFile plan(station.packageFile(QStringLiteral("flash-plan.txt")));
    ASSERT_TRUE(plan.open(QIODevice::WriteOnly));
    plan.write("# system first\r\n\r\n  system   system.img\r\nrecovery boot.img\r\n");
    plan.close();
    ASSERT_TRUE(station.download(0, 1));
    EXPECT_EQ(station.resultOf(0), FASTBOOT_RESULT_SUCCESS) << station.lastMessage(0);
    EXPECT_EQ(station.handler.of('M', 0).front().text, "Writing system.img");
    expectFlashed(1, "recovery", station.packageFile(QStringLiteral("boot.img")));

    const std::pair<QByteArray, std::string> bad[] = {
        {"system\n", "line 1"},
        {"system system.img extra\n", "line 1"},
        {"# fine\nsystem ../outside.img\n", "line 2"},
        {"sys:tem system.img\n", "line 1"},
        {"vendor vendor.img\n", "vendor.img"},
        {"# nothing at all\n", "names no images"},
    };
    for (const auto& [text, why] : bad) {
        ASSERT_TRUE(plan.open(QIODevice::WriteOnly | QIODevice::Truncate));
        plan.write(text);
        plan.close();
        const int flashes = station.device(1).flashCount("system");
        ASSERT_TRUE(station.download(0, 1));
        EXPECT_EQ(station.resultOf(0), FASTBOOT_RESULT_BAD_PACKAGE) << text.constData();
        EXPECT_NE(station.lastMessage(0).find(why), std::string::npos) << station.lastMessage(0);
        EXPECT_EQ(station.device(1).flashCount("system"), flashes);
    }
    // A link out of the package: nothing is sent, the entry is named.
    ASSERT_TRUE(QFile::link(station.stationDir() + QStringLiteral("config.ini"),
                            station.packageFile(QStringLiteral("evil.img"))));
    ASSERT_TRUE(plan.open(QIODevice::WriteOnly | QIODevice::Truncate));
    plan.write("system system.img\nboot evil.img\n");
    plan.close();
    const int flashes = station.device(1).flashCount("system");
    ASSERT_TRUE(station.download(0, 1));
    EXPECT_EQ(station.resultOf(0), FASTBOOT_RESULT_BAD_PACKAGE);
    EXPECT_NE(station.lastMessage(0).find("evil.img"), std::string::npos) << station.lastMessage(0);
    EXPECT_EQ(station.device(1).flashCount("system"), flashes);

    station.setPackage(station.packageFile(QStringLiteral("missing")));
    station.writeConfig();
    ASSERT_TRUE(station.download(0, 1));
    EXPECT_EQ(station.resultOf(0), FASTBOOT_RESULT_BAD_PACKAGE);
}

TEST_F(FastbootEngineTest, LinesShowSpeedAndTimeLeftWhileWriting)
{
    station.setPackage(station.makePackage(QStringLiteral("big"), "ABC_V2.0", "ABC_INT_V2.0", 3 * 1024 * 1024));
    auto slow = station.deviceSettings(3);
    slow.delayMsPerMiB = 600;
    slow.maxDownload = 512 * 1024;
    station.addDevice(3, slow);
    station.writeConfig("REBOOT=0\r\n");
    ASSERT_TRUE(station.load());
    ASSERT_TRUE(station.download(0, 3));
    EXPECT_EQ(station.resultOf(0), FASTBOOT_RESULT_SUCCESS) << station.lastMessage(0);
    const QRegularExpression speed(QStringLiteral("^Writing system\\.img: \\d+\\.\\d MB/s, \\d+:\\d\\d left$"));
    int speeds = 0;
    for (const auto& m : station.handler.of('M', 0))
        speeds += speed.match(QString::fromStdString(m.text)).hasMatch();
    EXPECT_GE(speeds, 1);
    EXPECT_TRUE(hasMessage(station.handler, 0, "Writing boot.img"));
    EXPECT_EQ(station.handler.of('P', 0).back().value, 100);
    expectFlashed(3, "system", station.packageFile(QStringLiteral("system.img")));
}

TEST_F(FastbootEngineTest, DeviceTextsReachTheToolWithoutControlCharactersOrExtraCommas)
{
    ScriptedFastbootServer hostile([](const std::string& command) {
        ScriptedFastbootServer::Answer a;
        if (command == "getvar:ro.build.display.id")
            a.bytes = ScriptedFastbootServer::frame("OKAYABC_V1.0,B2\x1b[2J");
        else if (command.starts_with("getvar:"))
            a.bytes = ScriptedFastbootServer::frame("OKAY356938035643809");
        else
            a.bytes = ScriptedFastbootServer::frame("INFO\x1b]0;owned\x07") + ScriptedFastbootServer::frame("FAIL\x1b[2Jno");
        return a;
    });
    station.writeConfig("PORT.2=" + QByteArray::fromStdString(hostile.endpoint()) + "\r\n");
    ASSERT_TRUE(station.load());
    EXPECT_TRUE(station.waitQuery(2, 0, "ABC_V1.0;B2?[2J,356938035643809,356938035643809"));
    ASSERT_TRUE(station.download(0, 2));
    EXPECT_EQ(station.resultOf(0), FASTBOOT_RESULT_DEVICE_FAILED);
    EXPECT_TRUE(hasMessage(station.handler, 0, "?]0;owned?"));
    EXPECT_NE(station.lastMessage(0).find("?[2Jno"), std::string::npos) << station.lastMessage(0);
    for (const auto& m : station.handler.of('M', 0))
        EXPECT_EQ(m.text.find_first_of("\x1b\x07"), std::string::npos) << m.text;
}

TEST_F(FastbootEngineTest, ReadBackPassesAndCatchesAVersionThatDidNotChange)
{
    station.addDevice(5);
    station.writeConfig("READBACK=1\r\nREBOOT=0\r\nARRIVAL_TIMEOUT_S=10\r\n");
    ASSERT_TRUE(station.load());
    ASSERT_TRUE(station.download(0, 5));
    EXPECT_EQ(station.resultOf(0), FASTBOOT_RESULT_SUCCESS) << station.lastMessage(0);
    EXPECT_TRUE(hasMessage(station.handler, 0, "Waiting for the device to come back"));

    // A plan that leaves system alone: the device keeps its old version.
    auto settings = station.deviceSettings(6);
    station.addDevice(6, settings);
    QFile plan(station.packageFile(QStringLiteral("flash-plan.txt")));
    ASSERT_TRUE(plan.open(QIODevice::WriteOnly));
    plan.write("boot boot.img\n");
    plan.close();
    ASSERT_TRUE(station.download(1, 6));
    EXPECT_EQ(station.resultOf(1), FASTBOOT_RESULT_READBACK_MISMATCH);
    EXPECT_NE(station.lastMessage(1).find("display version expected ABC_V2.0, found ABC_V1.0"), std::string::npos)
        << station.lastMessage(1);
}

TEST_F(FastbootEngineTest, EachFailureHasItsCodeAndTheOtherLinesGoOn)
{
    auto failing = station.deviceSettings(1);
    failing.failPartition = "system";
    station.addDevice(1, failing);
    auto dropping = station.deviceSettings(2);
    dropping.dropAfter = 200 * 1024;
    station.addDevice(2, dropping);
    station.addDevice(3);
    station.addDevice(4);
    station.unplug(4);
    ScriptedFastbootServer silent(ScriptedFastbootServer::silence());
    ScriptedFastbootServer garbage(ScriptedFastbootServer::always("HTTP/1.1 400 Bad Request"));
    station.writeConfig("PORT.5=" + QByteArray::fromStdString(silent.endpoint()) + "\r\nPORT.7="
                        + QByteArray::fromStdString(garbage.endpoint()) + "\r\nCOMMAND_TIMEOUT_S=1\r\n");
    ASSERT_TRUE(station.load());

    std::vector<std::thread> lines;
    for (int port = 1; port <= 7; ++port)
        lines.emplace_back([&, port] { station.engine()->Download(port - 1, port); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return station.handler.count('R') == 7; }, 60000));
    for (auto& t : lines)
        t.join();

    EXPECT_EQ(station.resultOf(0), FASTBOOT_RESULT_DEVICE_FAILED);
    EXPECT_NE(station.lastMessage(0).find("writing 'system' failed"), std::string::npos) << station.lastMessage(0);
    EXPECT_EQ(station.resultOf(1), FASTBOOT_RESULT_CONNECTION_LOST);
    EXPECT_NE(station.lastMessage(1).find("Connection to the device lost"), std::string::npos) << station.lastMessage(1);
    EXPECT_EQ(station.resultOf(2), FASTBOOT_RESULT_SUCCESS) << station.lastMessage(2);
    EXPECT_EQ(station.resultOf(3), FASTBOOT_RESULT_NO_DEVICE);
    EXPECT_EQ(station.resultOf(4), FASTBOOT_RESULT_TIMEOUT);
    EXPECT_NE(station.lastMessage(4).find("stopped answering"), std::string::npos) << station.lastMessage(4);
    EXPECT_EQ(station.resultOf(5), FASTBOOT_RESULT_NO_DEVICE); // no PORT.6
    EXPECT_NE(station.lastMessage(5).find("PORT.6"), std::string::npos);
    EXPECT_EQ(station.resultOf(6), FASTBOOT_RESULT_PROTOCOL_ERROR);
    EXPECT_NE(station.lastMessage(6).find("HTTP/1.1 400"), std::string::npos) << station.lastMessage(6);
    for (int line = 0; line < 7; ++line)
        EXPECT_EQ(station.handler.count('R', line), 1) << line;
    expectFlashed(3, "system", station.packageFile(QStringLiteral("system.img")));
}

TEST_F(FastbootEngineTest, QueryOfADeviceBusyWithADownloadAnswersFromWhatTheEngineKnows)
{
    // The window queries from inside the download's own message event: the
    // device serves the download, and the query answers from the engine's
    // state without a connection of its own.
    auto slow = station.deviceSettings(6);
    slow.delayMsPerMiB = 1000;
    station.addDevice(6, slow);
    station.writeConfig("REBOOT=0\r\n");
    ASSERT_TRUE(station.load());
    ASSERT_TRUE(station.waitQuery(6, 0));
    int32_t during = 12345;
    int connectionsBefore = 0;
    int connectionsAfter = 0;
    station.handler.hook = [&](const RecordingHandler::Event& e) {
        if (e.kind == 'M' && e.text == "Writing system.img") {
            connectionsBefore = station.connections(6);
            during = station.query(6);
            connectionsAfter = station.connections(6);
        }
    };
    ASSERT_TRUE(station.download(0, 6));
    EXPECT_EQ(during, 0);
    EXPECT_EQ(connectionsAfter, connectionsBefore);
    EXPECT_EQ(station.resultOf(0), FASTBOOT_RESULT_SUCCESS) << station.lastMessage(0);
    EXPECT_EQ(station.query(6), 0);
}

TEST_F(FastbootEngineTest, UnplugDuringADownloadLosesTheConnection)
{
    auto slow = station.deviceSettings(8);
    slow.delayMsPerMiB = 4000;
    slow.maxDownload = 64 * 1024;
    station.addDevice(8, slow);
    ASSERT_TRUE(station.load());
    station.handler.hook = [&](const RecordingHandler::Event& e) {
        if (e.kind == 'M' && e.text == "Writing system.img")
            station.unplug(8);
    };
    ASSERT_TRUE(station.download(0, 8));
    EXPECT_EQ(station.resultOf(0), FASTBOOT_RESULT_CONNECTION_LOST) << station.lastMessage(0);
}

} // namespace

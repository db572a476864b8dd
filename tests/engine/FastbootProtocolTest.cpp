// The host side of the protocol against scripted devices that misbehave.
#include "engine/ScriptedFastbootServer.h"

#include "Endpoint.h"
#include "FastbootClient.h"
#include "FastbootSettings.h"
#include "FastbootReply.h"
#include "TcpTransport.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <memory>

using namespace fastboot;
using Answer = ScriptedFastbootServer::Answer;

namespace {

std::string f(const std::string& payload)
{
    return ScriptedFastbootServer::frame(payload);
}

TEST(FastbootReplyTest, KindsTextsAndDataSizes)
{
    const auto parse = [](const std::string& s) { return FastbootReply::parse(s.data(), s.size()); };
    EXPECT_EQ(parse("OKAY0.4").kind, FastbootReply::Kind::Okay);
    EXPECT_EQ(parse("OKAY0.4").text, "0.4");
    EXPECT_EQ(parse(std::string("FAILbad\0junk", 12)).text, "bad"); // text ends at a zero byte
    EXPECT_EQ(parse("DATA0000abCD").dataSize, 0xabcdu);
    for (const char* bad : {"DATA1234", "DATA0000123g", "DATA000012345", "OK", "okay", "NOPEtext"})
        EXPECT_EQ(parse(bad).kind, FastbootReply::Kind::Invalid) << bad;
    EXPECT_EQ(parse(std::string(257, 'O')).kind, FastbootReply::Kind::Invalid);
    EXPECT_EQ(parse(std::string("\x01\x02OKAY", 6)).text, "??OKAY"); // printable excerpt for the message
}

class ClientTest : public ::testing::Test
{
protected:
    // Connects to a scripted device; texts from INFO and TEXT are collected.
    void connect(ScriptedFastbootServer::Script script, std::chrono::milliseconds timeout = std::chrono::seconds(5))
    {
        server = std::make_unique<ScriptedFastbootServer>(std::move(script));
        std::string why;
        link = TcpTransport::open("127.0.0.1", std::to_string(server->port()), Clock::now() + std::chrono::seconds(5),
                                  &why);
        ASSERT_TRUE(link) << why;
        client = std::make_unique<FastbootClient>(*link, timeout, [this](const std::string& t) { texts.push_back(t); });
    }
    static FastbootClient::DataSource zeros()
    {
        return [](char* out, size_t n, std::string*) {
            std::fill(out, out + n, '\0');
            return true;
        };
    }

    std::unique_ptr<ScriptedFastbootServer> server;
    std::unique_ptr<TcpTransport> link;
    std::unique_ptr<FastbootClient> client;
    std::vector<std::string> texts;
};

TEST_F(ClientTest, RepliesSplitAcrossReadsAndFloodsOfInfoArriveWhole)
{
    connect([](const std::string& command) {
        Answer a;
        if (command == "getvar:version") {
            a.bytes = f("INFOchecking") + f("OKAY0.4");
            a.split = true;
        } else {
            for (int i = 0; i < 3000; ++i)
                a.bytes += f(i % 2 ? "TEXTt" + std::to_string(i) : "INFO  line " + std::to_string(i) + "\n");
            a.bytes += f("OKAY");
        }
        return a;
    });
    std::string value;
    ASSERT_TRUE(client->command("getvar:version", &value));
    EXPECT_EQ(value, "0.4");
    std::string first;
    ASSERT_TRUE(client->command("oem flood", nullptr, &first));
    EXPECT_EQ(first, "line 0"); // trimmed
    ASSERT_EQ(texts.size(), 3001u);
    EXPECT_EQ(texts[0], "checking");
    EXPECT_EQ(texts.back(), "t2999");
}

TEST_F(ClientTest, FailTextsAndBadAnswersEndWithTheirCodes)
{
    connect([](const std::string& command) {
        Answer a;
        if (command == "flash:system")
            a.bytes = f("FAILpartition table broken");
        else if (command == "flash:empty")
            a.bytes = f("FAIL");
        else if (command == "garbage")
            a.bytes = f("\x7f\x45LF-no-reply");
        else if (command.starts_with("download:"))
            a.bytes = f("DATA00000010"); // 16 bytes where more were asked
        else if (command == "okay-too-early")
            a.bytes = f("OKAY");
        else
            a.bytes = f(std::string(300, 'I')); // larger than any reply may be
        return a;
    });
    EXPECT_FALSE(client->command("flash:system"));
    EXPECT_EQ(client->failure().code, FASTBOOT_RESULT_DEVICE_FAILED);
    EXPECT_NE(client->failure().text.find("partition table broken"), std::string::npos);
    EXPECT_FALSE(client->command("flash:empty"));
    EXPECT_NE(client->failure().text.find("no reason given"), std::string::npos);
    EXPECT_FALSE(client->command("garbage"));
    EXPECT_EQ(client->failure().code, FASTBOOT_RESULT_PROTOCOL_ERROR);
    EXPECT_FALSE(client->download(4096, zeros()));
    EXPECT_EQ(client->failure().code, FASTBOOT_RESULT_PROTOCOL_ERROR);
    EXPECT_NE(client->failure().text.find("offered 16 bytes"), std::string::npos);
    EXPECT_FALSE(client->command("oversize"));
    EXPECT_EQ(client->failure().code, FASTBOOT_RESULT_PROTOCOL_ERROR);
}

TEST_F(ClientTest, DownloadAnsweredOkayWithoutDataIsOutOfOrder)
{
    connect([](const std::string&) {
        Answer a;
        a.bytes = f("OKAY");
        return a;
    });
    EXPECT_FALSE(client->download(100, zeros()));
    EXPECT_EQ(client->failure().code, FASTBOOT_RESULT_PROTOCOL_ERROR);
}

TEST_F(ClientTest, SilentDeviceTimesOutInsteadOfHanging)
{
    connect(
        [](const std::string&) {
            Answer a;
            a.silent = true;
            return a;
        },
        std::chrono::milliseconds(300));
    const auto started = Clock::now();
    EXPECT_FALSE(client->command("getvar:version"));
    EXPECT_EQ(client->failure().code, FASTBOOT_RESULT_TIMEOUT);
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(10));
}

TEST_F(ClientTest, ConnectionDroppedInTheMiddleOfADownloadIsLost)
{
    connect([](const std::string& command) {
        Answer a;
        if (command.starts_with("download:")) {
            a.bytes = f("DATA" + command.substr(9));
            a.absorb = 0xffffffff;
            a.dropAfter = 3 * 1024 * 1024;
        }
        return a;
    });
    EXPECT_FALSE(client->download(64 * 1024 * 1024, zeros()));
    EXPECT_EQ(client->failure().code, FASTBOOT_RESULT_CONNECTION_LOST);
    EXPECT_NE(client->failure().text.find("Connection to the device lost"), std::string::npos);
}

TEST_F(ClientTest, DataSourceThatCannotReadIsAPackageFault)
{
    connect([](const std::string& command) {
        Answer a;
        a.bytes = f("DATA" + command.substr(9));
        a.absorb = 1;
        a.afterData = f("OKAY");
        return a;
    });
    EXPECT_FALSE(client->download(100, [](char*, size_t, std::string* why) {
        *why = "Cannot read system.img";
        return false;
    }));
    EXPECT_EQ(client->failure().code, FASTBOOT_RESULT_BAD_PACKAGE);
}

TEST(TcpTransportTest, EndpointThatIsNoFastbootDeviceIsRefused)
{
    std::string why;
    EXPECT_FALSE(TcpTransport::validHandshake("FB00"));
    EXPECT_FALSE(TcpTransport::validHandshake("HTTP"));
    EXPECT_TRUE(TcpTransport::validHandshake("FB02"));
    // Nothing listens on port 1 of the loopback address.
    EXPECT_FALSE(TcpTransport::open("127.0.0.1", "1", Clock::now() + std::chrono::seconds(2), &why));
    EXPECT_FALSE(why.empty());
}

TEST(EndpointTest, OnlyWellFormedEndpointsAreTaken)
{
    Endpoint e;
    std::string why;
    ASSERT_TRUE(Endpoint::parse("tcp:127.0.0.1:5554", &e, &why));
    EXPECT_EQ(e.host, "127.0.0.1");
    EXPECT_EQ(e.port, "5554");
    ASSERT_TRUE(Endpoint::parse("tcp:[::1]:5555", &e, &why));
    EXPECT_EQ(e.host, "::1");
    ASSERT_TRUE(Endpoint::parse("usb:1-2.3", &e, &why));
    EXPECT_EQ(e.kind, Endpoint::Kind::Usb);
    EXPECT_EQ(e.location, "1-2.3");
    for (const char* bad : {"", "usb:", "usb:1", "usb:1-2.", "USB:1-2", "tcp:host", "tcp::5554", "tcp:h:0",
                            "tcp:h:65536", "tcp:h:55x", "TCP:h:1"})
        EXPECT_FALSE(Endpoint::parse(bad, &e, &why)) << bad;
}

TEST(FastbootSettingsTest, KeysDefaultsAndBadNumbers)
{
    TempDir station;
    FastbootSettings s = FastbootSettings::load(station.path().toStdString());
    EXPECT_TRUE(s.ports.empty());
    EXPECT_TRUE(s.reboot);
    EXPECT_FALSE(s.readback);
    EXPECT_EQ(s.commandTimeoutS, 30);
    EXPECT_EQ(s.imeiSource, "getvar:imei");
    station.write("config.ini", "[fastboot_engine]\nPORT.1=tcp:127.0.0.1:1\nPORT.255= \"tcp:[::1]:2\" \nPORT.256=tcp:x:3\n"
                                "REBOOT=0\nREADBACK=1\nCOMMAND_TIMEOUT_S=-5\nARRIVAL_TIMEOUT_S=7\nIMEI=oem:get imei\n"
                                "[GET_DLL_Setting]\nITEM_VERSIONFILE_PATH=/pkg\n");
    s = FastbootSettings::load(station.path().toStdString());
    EXPECT_EQ(s.ports.size(), 2u); // 1..255 only
    EXPECT_EQ(s.endpointOf(255), "tcp:[::1]:2");
    EXPECT_EQ(s.endpointOf(2), "");
    EXPECT_FALSE(s.reboot);
    EXPECT_TRUE(s.readback);
    EXPECT_EQ(s.commandTimeoutS, 30); // out of range: the default
    EXPECT_EQ(s.arrivalTimeoutS, 7);
    EXPECT_EQ(s.imeiSource, "oem:get imei");
    EXPECT_EQ(s.versionDir, "/pkg");
}

} // namespace

// The host side of the protocol against scripted devices that misbehave.
#include "engine/ScriptedFastbootServer.h"

#include "Endpoint.h"
#include "FastbootClient.h"
#include "FastbootSettings.h"
#include "FastbootReply.h"
#include "SocketIo.h"
#include "SystemResolver.h"
#include "TcpTransport.h"

#include "support/TempDir.h"

#include <QFile>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <thread>

#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <unistd.h>

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
        link = TcpTransport::open(resolver, "127.0.0.1", std::to_string(server->port()),
                                  Clock::now() + std::chrono::seconds(5), &why);
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

    SystemResolver resolver;
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

// An open file of size bytes of a pattern, in dir; closed by the caller.
int patternFile(const TempDir& dir, qsizetype size)
{
    QByteArray bytes(size, '\0');
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char(i * 7 % 251);
    dir.write(QStringLiteral("image.img"), bytes);
    return ::open(QFile::encodeName(dir.file(QStringLiteral("image.img"))).constData(), O_RDONLY | O_CLOEXEC);
}

FastbootClient::ChunkSource fromFile(int fd)
{
    auto offset = std::make_shared<uint64_t>(0);
    return [fd, offset](size_t n, std::vector<Chunk>* chunks, std::string*) {
        chunks->push_back(Chunk{nullptr, fd, *offset, n});
        *offset += n;
        return true;
    };
}

TEST_F(ClientTest, DownloadFromAFileThatEndsEarlyIsAPackageFault)
{
    connect([](const std::string& command) {
        Answer a;
        a.bytes = f("DATA" + command.substr(9));
        a.absorb = 0xffffffff;
        return a;
    });
    TempDir dir;
    const int fd = patternFile(dir, 100 * 1024);
    ASSERT_GE(fd, 0);
    EXPECT_FALSE(client->download(200 * 1024, fromFile(fd)));
    ::close(fd);
    EXPECT_EQ(client->failure().code, FASTBOOT_RESULT_BAD_PACKAGE);
    EXPECT_EQ(client->failure().text, "the file ended early");
}

TEST_F(ClientTest, DeviceThatStopsReadingMidImageTimesOut)
{
    connect(
        [](const std::string& command) {
            Answer a;
            a.bytes = f("DATA" + command.substr(9));
            a.absorb = 0xffffffff;
            a.stallAfter = 1024 * 1024;
            return a;
        },
        std::chrono::milliseconds(500));
    TempDir dir;
    const int fd = patternFile(dir, 1024);
    ASSERT_GE(fd, 0);
    const int writable = ::open(QFile::encodeName(dir.file(QStringLiteral("image.img"))).constData(), O_WRONLY | O_CLOEXEC);
    ASSERT_EQ(::ftruncate(writable, 256 * 1024 * 1024), 0); // a hole: no disk used
    ::close(writable);
    EXPECT_FALSE(client->download(256 * 1024 * 1024, fromFile(fd)));
    ::close(fd);
    EXPECT_EQ(client->failure().code, FASTBOOT_RESULT_TIMEOUT) << client->failure().text;
    EXPECT_NE(client->failure().text.find("stopped answering while sending data"), std::string::npos)
        << client->failure().text;
}

// A link that takes whole packets only, as a transport without file
// sending: answers every download with DATA and OKAY and keeps the data.
class PacketLink final : public Transport
{
public:
    IoStatus send(const void* data, size_t size, Clock::time_point) override
    {
        const std::string packet(static_cast<const char*>(data), size);
        if (packet.starts_with("download:")) {
            m_replies = {"DATA" + packet.substr(9), "OKAY"};
            return IoStatus::Ok;
        }
        m_data += packet;
        return IoStatus::Ok;
    }
    IoStatus receive(void* buffer, size_t, size_t* size, Clock::time_point) override
    {
        if (m_replies.empty())
            return IoStatus::Timeout;
        *size = m_replies.front().size();
        std::memcpy(buffer, m_replies.front().data(), *size);
        m_replies.erase(m_replies.begin());
        return IoStatus::Ok;
    }
    std::string lastError() const override { return "timed out"; }

    std::string m_data;

private:
    std::vector<std::string> m_replies;
};

TEST(FastbootClientTest, TransportsWithoutFileSendingGetWholePacketsGathered)
{
    TempDir dir;
    const int fd = patternFile(dir, 5 * 1024 * 1024);
    ASSERT_GE(fd, 0);
    PacketLink link;
    FastbootClient client(link, std::chrono::seconds(1), {});
    // A header, 4 MiB + 100 of file from offset 7, a tail: two packets.
    const std::string head = "HEAD";
    const std::string tail = "TAIL";
    const size_t fileBytes = 4 * 1024 * 1024 + 100;
    size_t at = 0;
    const FastbootClient::ChunkSource source = [&](size_t n, std::vector<Chunk>* chunks, std::string*) {
        const std::vector<Chunk> all = {{head.data(), -1, 0, head.size()},
                                        {nullptr, fd, 7, fileBytes},
                                        {tail.data(), -1, 0, tail.size()}};
        // Cut [at, at + n) out of the three stretches.
        size_t start = 0;
        for (const Chunk& c : all) {
            const size_t b = std::max(at, start);
            const size_t e = std::min(at + n, start + c.size);
            if (b < e)
                chunks->push_back(c.data ? Chunk{c.data + (b - start), -1, 0, e - b}
                                         : Chunk{nullptr, fd, c.offset + (b - start), e - b});
            start += c.size;
        }
        at += n;
        return true;
    };
    const size_t total = head.size() + fileBytes + tail.size();
    ASSERT_TRUE(client.download(uint32_t(total), source)) << client.failure().text;
    const QByteArray image = dir.read(QStringLiteral("image.img"));
    EXPECT_TRUE(link.m_data == head + image.mid(7, qsizetype(fileBytes)).toStdString() + tail);

    // The file shorter than the stretch: a package fault.
    at = 0;
    EXPECT_FALSE(client.download(uint32_t(total), [&](size_t n, std::vector<Chunk>* chunks, std::string*) {
        chunks->push_back(Chunk{nullptr, fd, 5 * 1024 * 1024 - 10, n});
        return true;
    }));
    EXPECT_EQ(client.failure().code, FASTBOOT_RESULT_BAD_PACKAGE);
    ::close(fd);
}

// A sendfile that moves at most 777 bytes a call and is interrupted or
// finds the socket full now and then, as a busy system's may.
int g_sendFileCalls = 0;
ssize_t shortSendFile(int socket, int file, off_t* offset, size_t count)
{
    ++g_sendFileCalls;
    if (g_sendFileCalls % 7 == 0) {
        errno = EINTR;
        return -1;
    }
    if (g_sendFileCalls % 11 == 0) {
        errno = EAGAIN;
        return -1;
    }
    return ::sendfile(socket, file, offset, std::min<size_t>(count, 777));
}

TEST(SocketIoTest, ShortAndInterruptedSendfilesStillSendEveryByteInOrder)
{
    TempDir dir;
    const qsizetype size = 3 * 1024 * 1024;
    const int fd = patternFile(dir, size);
    ASSERT_GE(fd, 0);
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair), 0);
    const uint64_t offset = 12345;
    const size_t length = 2 * 1024 * 1024 + 3;
    std::string received;
    std::thread reader([&] {
        int err = 0;
        received.resize(length);
        SocketIo::receiveAll(pair[1], received.data(), length, Clock::now() + std::chrono::seconds(30), &err);
    });
    int err = 0;
    const IoStatus status = SocketIo::sendFileAll(pair[0], fd, offset, length, Clock::now() + std::chrono::seconds(30),
                                                  &err, shortSendFile);
    reader.join();
    EXPECT_EQ(status, IoStatus::Ok);
    EXPECT_GT(g_sendFileCalls, 2000);
    const QByteArray want = dir.read(QStringLiteral("image.img")).mid(qsizetype(offset), qsizetype(length));
    EXPECT_TRUE(received == want.toStdString());

    // Past the end of the file: the file's fault, not the link's.
    EXPECT_EQ(SocketIo::sendFileAll(pair[0], fd, uint64_t(size) - 10, 20, Clock::now() + std::chrono::seconds(5), &err),
              IoStatus::FileError);
    EXPECT_EQ(err, 0);

    // The peer gone: the connection is lost, and no SIGPIPE ends the process.
    ::close(pair[1]);
    EXPECT_EQ(SocketIo::sendFileAll(pair[0], fd, 0, 1000, Clock::now() + std::chrono::seconds(5), &err),
              IoStatus::Closed);
    EXPECT_EQ(err, EPIPE);
    ::close(fd);
    ::close(pair[0]);
}

TEST(TcpTransportTest, EndpointThatIsNoFastbootDeviceIsRefused)
{
    std::string why;
    EXPECT_FALSE(TcpTransport::validHandshake("FB00"));
    EXPECT_FALSE(TcpTransport::validHandshake("HTTP"));
    EXPECT_TRUE(TcpTransport::validHandshake("FB02"));
    // Nothing listens on port 1 of the loopback address.
    SystemResolver resolver;
    EXPECT_FALSE(TcpTransport::open(resolver, "127.0.0.1", "1", Clock::now() + std::chrono::seconds(2), &why));
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

// Sahara packets both ways, the parser's length checks, and the host against
// the emulated boot ROM: command mode, 32- and 64-bit reads, refusals.
#include "ModelLink.h"
#include "ModuleModel.h"
#include "SaharaHost.h"
#include "SaharaPacket.h"
#include "ScriptedLink.h"

#include <gtest/gtest.h>

using namespace modem;

namespace {

SaharaPacket parsed(const std::string& bytes)
{
    SaharaPacket packet;
    std::string why;
    EXPECT_TRUE(SaharaPacket::parse(bytes.data(), bytes.size(), &packet, &why)) << why;
    return packet;
}

std::string programmerBytes(size_t size)
{
    std::string bytes(size, '\0');
    uint32_t seed = 7;
    for (char& c : bytes) {
        seed = seed * 1664525u + 1013904223u;
        c = char(seed >> 24);
    }
    return bytes;
}

modemdevice::ModuleSettings blankBoard(const std::string& programmer)
{
    modemdevice::ModuleSettings settings;
    settings.startInDownload = true;
    settings.programmer = programmer;
    settings.readChunk = 1000;
    return settings;
}

} // namespace

TEST(SaharaPacketTest, EveryPacketRoundTrips)
{
    const SaharaPacket hello = parsed(SaharaPacket::hello(SaharaPacket::ImageTransferPending, 0x400));
    EXPECT_EQ(hello.command, SaharaPacket::Hello);
    EXPECT_EQ(hello.length, 0x30u);
    EXPECT_EQ(hello.version, 2u);
    EXPECT_EQ(hello.maxCommandLength, 0x400u);
    EXPECT_EQ(parsed(SaharaPacket::helloResponse(SaharaPacket::CommandMode)).mode, uint32_t(SaharaPacket::CommandMode));

    const SaharaPacket read = parsed(SaharaPacket::readData(13, 0x1000, 0x800));
    EXPECT_EQ(read.length, 0x14u);
    EXPECT_EQ(read.image, 13u);
    EXPECT_EQ(read.offset, 0x1000u);
    EXPECT_EQ(read.size, 0x800u);

    const SaharaPacket read64 = parsed(SaharaPacket::readData64(13, 0x1'0000'0000ull, 0x1000));
    EXPECT_EQ(read64.command, SaharaPacket::ReadData64);
    EXPECT_EQ(read64.length, 0x20u);
    EXPECT_EQ(read64.offset, 0x1'0000'0000ull);
    EXPECT_EQ(read64.size, 0x1000u);

    const SaharaPacket end = parsed(SaharaPacket::endOfImage(13, 0x1d));
    EXPECT_EQ(end.image, 13u);
    EXPECT_EQ(end.status, 0x1du);
    EXPECT_EQ(parsed(SaharaPacket::done()).length, 8u);
    EXPECT_EQ(parsed(SaharaPacket::doneResponse(1)).status, 1u);
    EXPECT_EQ(parsed(SaharaPacket::reset()).command, SaharaPacket::Reset);
    EXPECT_EQ(parsed(SaharaPacket::commandReady()).command, SaharaPacket::CommandReady);
    EXPECT_EQ(parsed(SaharaPacket::switchMode(0)).mode, 0u);
    EXPECT_EQ(parsed(SaharaPacket::execute(2)).clientCommand, 2u);
    const SaharaPacket answer = parsed(SaharaPacket::executeResponse(2, 8));
    EXPECT_EQ(answer.clientCommand, 2u);
    EXPECT_EQ(answer.dataLength, 8u);
    EXPECT_EQ(parsed(SaharaPacket::executeData(1)).clientCommand, 1u);

    // Little-endian on the wire.
    const std::string bytes = SaharaPacket::readData(0x0d, 0x01020304, 0x10);
    EXPECT_EQ(bytes.substr(0, 8), std::string("\x03\0\0\0\x14\0\0\0", 8));
    EXPECT_EQ(bytes.substr(12, 4), std::string("\x04\x03\x02\x01", 4));
}

TEST(SaharaPacketTest, LengthsAreChecked)
{
    SaharaPacket packet;
    std::string why;
    std::string read = SaharaPacket::readData(13, 0, 16);
    // Short of the header, cut short, with trailing bytes, lying in its length field.
    EXPECT_FALSE(SaharaPacket::parse(read.data(), 4, &packet, &why));
    EXPECT_FALSE(SaharaPacket::parse(read.data(), read.size() - 1, &packet, &why));
    std::string longer = read + "x";
    EXPECT_FALSE(SaharaPacket::parse(longer.data(), longer.size(), &packet, &why));
    std::string lying = read;
    lying[4] = 0x20;
    EXPECT_FALSE(SaharaPacket::parse(lying.data(), lying.size(), &packet, &why));
    // A 32-bit read request claiming the 64-bit size, padded to match.
    std::string wrongSize = read + std::string(12, '\0');
    wrongSize[4] = 0x20;
    EXPECT_FALSE(SaharaPacket::parse(wrongSize.data(), wrongSize.size(), &packet, &why));
    // Unknown commands (memory debug, say) are refused with their number.
    std::string debug = SaharaPacket::done();
    debug[0] = 0x09;
    EXPECT_FALSE(SaharaPacket::parse(debug.data(), debug.size(), &packet, &why));
    EXPECT_NE(why.find("0x9"), std::string::npos);
}

TEST(SaharaHostTest, IdentityThenProgrammerIn32And64BitReads)
{
    for (const bool wide : {false, true}) {
        const std::string programmer = programmerBytes(10'500);
        modemdevice::ModuleSettings settings = blankBoard(programmer);
        settings.read64 = wide;
        modemdevice::ModuleModel model(settings);
        modemdevice::ModelLink link(model);
        SaharaHost host(link, std::chrono::milliseconds(100));

        ChipIdentity chip;
        ASSERT_TRUE(host.readIdentity(&chip)) << host.failure().text;
        EXPECT_EQ(chip.serial, "0x1a2b3c4d");
        EXPECT_EQ(chip.hardwareId, "0x000a50e100000000");

        uint64_t lastSent = 0;
        ASSERT_TRUE(host.sendProgrammer(programmer, [&](uint64_t sent, uint64_t total) {
            EXPECT_EQ(total, programmer.size());
            EXPECT_GT(sent, lastSent);
            lastSent = sent;
        })) << host.failure().text;
        EXPECT_EQ(lastSent, programmer.size());
        EXPECT_EQ(model.readRequests(), 11);
        EXPECT_EQ(model.saharaHellos(), 2); // again after command mode
        EXPECT_EQ(model.mode(), modemdevice::ModuleModel::Mode::Firehose);
    }
}

TEST(SaharaHostTest, WrongProgrammerIsRefused)
{
    const std::string programmer = programmerBytes(4096);
    modemdevice::ModuleModel model(blankBoard(programmer));
    modemdevice::ModelLink link(model);
    SaharaHost host(link, std::chrono::milliseconds(100));
    std::string other = programmer;
    other[100] ^= 1;
    EXPECT_FALSE(host.sendProgrammer(other));
    EXPECT_EQ(host.failure().kind, ModemFailure::Kind::ProgrammerRefused);
    EXPECT_NE(host.failure().text.find("secure-boot"), std::string::npos);
    EXPECT_EQ(model.mode(), modemdevice::ModuleModel::Mode::Sahara);
}

TEST(SaharaHostTest, RequestsBeyondTheProgrammerAndSilence)
{
    // The chip asks for more than the file has: a programmer for another chip.
    ScriptedLink link;
    link.queue(SaharaPacket::hello(0));
    link.queue(SaharaPacket::readData64(13, 0xffff'ffff'ffff'fff0ull, 0x20));
    SaharaHost host(link, std::chrono::milliseconds(10));
    EXPECT_FALSE(host.sendProgrammer(std::string(100, 'p')));
    EXPECT_EQ(host.failure().kind, ModemFailure::Kind::ProgrammerRefused);
    ASSERT_FALSE(link.sent.empty());
    EXPECT_EQ(parsed(link.sent.back()).command, SaharaPacket::Reset);

    // Nothing at all: a timeout, said as such.
    ScriptedLink silent;
    SaharaHost quiet(silent, std::chrono::milliseconds(10));
    EXPECT_FALSE(quiet.sendProgrammer("x"));
    EXPECT_EQ(quiet.failure().kind, ModemFailure::Kind::Timeout);

    // Garbage where a packet belongs.
    ScriptedLink garbage;
    garbage.queue("not sahara");
    SaharaHost confused(garbage, std::chrono::milliseconds(10));
    EXPECT_FALSE(confused.sendProgrammer("x"));
    EXPECT_EQ(confused.failure().kind, ModemFailure::Kind::Protocol);
}

TEST(SaharaHostTest, EndlessRomIsCutOff)
{
    ScriptedLink restarting;
    for (int i = 0; i < 10; ++i)
        restarting.queue(SaharaPacket::hello(0));
    SaharaHost host(restarting, std::chrono::milliseconds(10));
    EXPECT_FALSE(host.sendProgrammer("x"));
    EXPECT_EQ(host.failure().kind, ModemFailure::Kind::Protocol);

    ScriptedLink rereading;
    rereading.queue(SaharaPacket::hello(0));
    for (int i = 0; i < 100; ++i)
        rereading.queue(SaharaPacket::readData(13, 0, 1000));
    SaharaHost again(rereading, std::chrono::milliseconds(10));
    EXPECT_FALSE(again.sendProgrammer(std::string(1000, 'p')));
    EXPECT_EQ(again.failure().kind, ModemFailure::Kind::Protocol);
    EXPECT_LT(rereading.sent.size(), 100u);
}

TEST(SaharaHostTest, ZeroLengthPacketAfterWholePackets)
{
    ScriptedLink link(512);
    link.queue(SaharaPacket::hello(0));
    link.queue(SaharaPacket::readData(13, 0, 1024));
    link.queue(SaharaPacket::readData(13, 1024, 100));
    link.queue(SaharaPacket::endOfImage(13, 0));
    link.queue(SaharaPacket::doneResponse(1));
    SaharaHost host(link, std::chrono::milliseconds(10));
    ASSERT_TRUE(host.sendProgrammer(std::string(1124, 'p'))) << host.failure().text;
    // hello response, 1024 bytes + ZLP, 100 bytes, done.
    ASSERT_EQ(link.sent.size(), 5u);
    EXPECT_EQ(link.sent[1].size(), 1024u);
    EXPECT_EQ(link.sent[2].size(), 0u);
    EXPECT_EQ(link.sent[3].size(), 100u);
}

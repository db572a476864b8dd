// Firehose commands and replies, and the host's handling of ACK, NAK, logs,
// payload negotiation and zero-length packets, against scripted replies.
#include "FirehoseHost.h"
#include "FirehoseXml.h"
#include "ScriptedLink.h"

#include <pugixml.hpp>

#include <gtest/gtest.h>

using namespace modem;

namespace {

const std::string kHead = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>";

std::string response(const std::string& value, const std::string& extra = {})
{
    return kHead + "<data><response value=\"" + value + "\"" + extra + " /></data>";
}

std::string log(const std::string& text)
{
    return kHead + "<data><log value=\"" + text + "\" /></data>";
}

// The single element of a command document.
pugi::xml_node element(pugi::xml_document* document, const std::string& text)
{
    EXPECT_TRUE(document->load_string(text.c_str())) << text;
    return document->child("data").first_child();
}

FirehoseHost::Timeouts quick()
{
    using std::chrono::milliseconds;
    return {milliseconds(10), milliseconds(10), milliseconds(10)};
}

ProgramEntry entry(const std::string& label)
{
    ProgramEntry program;
    program.label = label;
    program.filename = label + ".img";
    program.startSector = "NUM_DISK_SECTORS-8.";
    program.partition = 1;
    return program;
}

} // namespace

TEST(FirehoseXmlTest, CommandsCarryTheirAttributes)
{
    pugi::xml_document document;
    pugi::xml_node configure = element(&document, FirehoseCommand::configure("ufs", 1048576));
    EXPECT_STREQ(configure.name(), "configure");
    EXPECT_STREQ(configure.attribute("MemoryName").value(), "ufs");
    EXPECT_STREQ(configure.attribute("MaxPayloadSizeToTargetInBytes").value(), "1048576");
    EXPECT_STREQ(configure.attribute("ZlpAwareHost").value(), "1");

    ProgramEntry program = entry("modem\"<&>");
    program.sectorSize = 4096;
    pugi::xml_node node = element(&document, FirehoseCommand::program(program, 12));
    EXPECT_STREQ(node.name(), "program");
    EXPECT_STREQ(node.attribute("SECTOR_SIZE_IN_BYTES").value(), "4096");
    EXPECT_STREQ(node.attribute("num_partition_sectors").value(), "12");
    EXPECT_STREQ(node.attribute("physical_partition_number").value(), "1");
    EXPECT_STREQ(node.attribute("start_sector").value(), "NUM_DISK_SECTORS-8.");
    EXPECT_STREQ(node.attribute("label").value(), "modem\"<&>"); // escaped, read back intact

    PatchEntry patch;
    patch.byteOffset = 48;
    patch.filename = "DISK";
    patch.sizeInBytes = 8;
    patch.startSector = "1";
    patch.value = "NUM_DISK_SECTORS-34.";
    node = element(&document, FirehoseCommand::patch(patch));
    EXPECT_STREQ(node.attribute("byte_offset").value(), "48");
    EXPECT_STREQ(node.attribute("filename").value(), "DISK");
    EXPECT_STREQ(node.attribute("value").value(), "NUM_DISK_SECTORS-34.");

    node = element(&document, FirehoseCommand::power("reset"));
    EXPECT_STREQ(node.name(), "power");
    EXPECT_STREQ(node.attribute("value").value(), "reset");
}

TEST(FirehoseXmlTest, RepliesWithLogsAndSeveralDocuments)
{
    const std::string packet = log("one") + log("two &amp; three") + response("NAK", " MaxPayloadSizeToTargetInBytes=\"4096\"");
    FirehoseReply reply;
    std::string why;
    ASSERT_TRUE(FirehoseReply::parse(packet.data(), packet.size(), &reply, &why)) << why;
    ASSERT_EQ(reply.logs.size(), 2u);
    EXPECT_EQ(reply.logs[1], "two & three");
    ASSERT_EQ(reply.responses.size(), 1u);
    EXPECT_FALSE(reply.responses[0].ack);
    EXPECT_EQ(reply.responses[0].attribute("MaxPayloadSizeToTargetInBytes"), "4096");

    const std::string raw = "<data><response value=\"ACK\" rawmode=\"true\"/></data>";
    ASSERT_TRUE(FirehoseReply::parse(raw.data(), raw.size(), &reply, &why)) << why;
    EXPECT_TRUE(reply.responses[0].ack);
    EXPECT_TRUE(reply.responses[0].rawMode);

    for (const std::string& bad : {std::string(), std::string("garbage"), std::string("<other/>"),
                                  kHead + "<data><log value=\"x\"></data>", std::string("\0\0\0", 3)}) {
        EXPECT_FALSE(FirehoseReply::parse(bad.data(), bad.size(), &reply, &why)) << bad;
    }
}

TEST(FirehoseXmlTest, DocumentEntitiesAreNotExpanded)
{
    const std::string packet = kHead
        + "<!DOCTYPE data [<!ENTITY big \"xxxxxxxxxxxxxxxx\"><!ENTITY file SYSTEM \"/etc/passwd\">]>"
          "<data><log value=\"&big;&file;\" /><response value=\"ACK\" /></data>";
    FirehoseReply reply;
    std::string why;
    ASSERT_TRUE(FirehoseReply::parse(packet.data(), packet.size(), &reply, &why)) << why;
    ASSERT_EQ(reply.logs.size(), 1u);
    EXPECT_EQ(reply.logs[0], "&big;&file;"); // left as written
    EXPECT_EQ(reply.responses.size(), 1u);
}

TEST(FirehoseXmlTest, StartSectors)
{
    for (const char* good : {"0", "34", "NUM_DISK_SECTORS-5.", "NUM_DISK_SECTORS-33"})
        EXPECT_TRUE(isStartSector(good)) << good;
    for (const char* bad : {"", "-1", "0x22", "NUM_DISK_SECTORS", "NUM_DISK_SECTORS-.", "NUM_DISK_SECTORS+5.",
                            "5.", "99999999999999999999"})
        EXPECT_FALSE(isStartSector(bad)) << bad;
}

TEST(FirehoseHostTest, ConfigureNakThenRetryWithTheSupportedSize)
{
    ScriptedLink link;
    link.queue(log("payload too big"));
    link.queue(response("NAK", " MaxPayloadSizeToTargetInBytes=\"262144\" MaxPayloadSizeToTargetInBytesSupported=\"262144\""));
    link.queue(response("ACK", " MaxPayloadSizeToTargetInBytes=\"262144\""));
    std::vector<std::string> logs;
    FirehoseHost host(link, quick(), [&](const std::string& line) { logs.push_back(line); });
    ASSERT_TRUE(host.configure("emmc", 1048576)) << host.failure().text;
    EXPECT_EQ(host.payloadSize(), 262144u);
    ASSERT_EQ(link.sent.size(), 2u);
    EXPECT_NE(link.sent[1].find("MaxPayloadSizeToTargetInBytes=\"262144\""), std::string::npos);
    EXPECT_EQ(logs, std::vector<std::string>{"payload too big"});
}

TEST(FirehoseHostTest, ConfigureRefusedForGood)
{
    // A NAK without a smaller size, and a NAK after the retry, both end it.
    ScriptedLink plain;
    plain.queue(log("no such storage"));
    plain.queue(response("NAK"));
    FirehoseHost host(plain, quick(), {});
    EXPECT_FALSE(host.configure("ufs", 1048576));
    EXPECT_EQ(host.failure().kind, ModemFailure::Kind::FirehoseNak);
    EXPECT_NE(host.failure().text.find("no such storage"), std::string::npos);

    ScriptedLink twice;
    twice.queue(response("NAK", " MaxPayloadSizeToTargetInBytes=\"4096\""));
    twice.queue(response("NAK", " MaxPayloadSizeToTargetInBytes=\"4096\""));
    FirehoseHost again(twice, quick(), {});
    EXPECT_FALSE(again.configure("emmc", 1048576));
    EXPECT_EQ(twice.sent.size(), 2u);

    // A device offering more than asked does not get more.
    ScriptedLink generous;
    generous.queue(response("ACK", " MaxPayloadSizeToTargetInBytes=\"8388608\""));
    FirehoseHost third(generous, quick(), {});
    ASSERT_TRUE(third.configure("emmc", 1048576));
    EXPECT_EQ(third.payloadSize(), 1048576u);
}

TEST(FirehoseHostTest, ProgramSendsPayloadsThenWaitsForTheAck)
{
    ScriptedLink link(512);
    link.queue(response("ACK", " MaxPayloadSizeToTargetInBytes=\"2048\""));
    link.queue(response("ACK", " rawmode=\"true\""));
    link.queue(log("written"));
    link.queue(response("ACK", " rawmode=\"false\""));
    FirehoseHost host(link, quick(), {});
    ASSERT_TRUE(host.configure("emmc", 2048));

    uint64_t handed = 0;
    uint64_t progressed = 0;
    const auto source = [&](char* buffer, size_t size, std::string*) {
        std::fill_n(buffer, size, char('a' + handed / 2048));
        handed += size;
        return true;
    };
    ASSERT_TRUE(host.program(entry("boot"), 5, source, [&](uint64_t bytes) { progressed += bytes; }))
        << host.failure().text;
    EXPECT_EQ(handed, 5u * 512);
    EXPECT_EQ(progressed, 5u * 512);
    // configure, program, 2048 + ZLP, 512 + ZLP.
    ASSERT_EQ(link.sent.size(), 6u);
    EXPECT_EQ(link.sent[2].size(), 2048u);
    EXPECT_EQ(link.sent[3].size(), 0u);
    EXPECT_EQ(link.sent[4].size(), 512u);
    EXPECT_EQ(link.sent[5].size(), 0u);
}

TEST(FirehoseHostTest, NakOnProgramCarriesTheDeviceLog)
{
    ScriptedLink link;
    link.queue(response("ACK"));
    link.queue(log("partition is write protected"));
    link.queue(response("NAK"));
    FirehoseHost host(link, quick(), {});
    ASSERT_TRUE(host.configure("emmc", 4096));
    EXPECT_FALSE(host.program(entry("modem"), 1, [](char*, size_t, std::string*) { return true; }));
    EXPECT_EQ(host.failure().kind, ModemFailure::Kind::FirehoseNak);
    EXPECT_NE(host.failure().text.find("modem"), std::string::npos);
    EXPECT_NE(host.failure().text.find("write protected"), std::string::npos);
}

TEST(FirehoseHostTest, DeviceStopsMidTransfer)
{
    ScriptedLink link;
    link.queue(response("ACK"));
    link.queue(response("ACK", " rawmode=\"true\""));
    link.stallAfter(3); // configure, program, one payload
    FirehoseHost host(link, quick(), {});
    ASSERT_TRUE(host.configure("emmc", 4096));
    EXPECT_FALSE(host.program(entry("system"), 64, [](char*, size_t, std::string*) { return true; }));
    EXPECT_EQ(host.failure().kind, ModemFailure::Kind::Timeout);
    EXPECT_NE(host.failure().text.find("system"), std::string::npos);

    // No final answer after all data: a timeout too.
    ScriptedLink quiet;
    quiet.queue(response("ACK"));
    quiet.queue(response("ACK", " rawmode=\"true\""));
    FirehoseHost second(quiet, quick(), {});
    ASSERT_TRUE(second.configure("emmc", 4096));
    EXPECT_FALSE(second.program(entry("system"), 1, [](char*, size_t, std::string*) { return true; }));
    EXPECT_EQ(second.failure().kind, ModemFailure::Kind::Timeout);
}

TEST(FirehoseHostTest, PatchAndPower)
{
    ScriptedLink link;
    link.queue(response("ACK"));
    link.queue(response("NAK"));
    link.queue(response("ACK"));
    FirehoseHost host(link, quick(), {});
    PatchEntry patch;
    patch.filename = "DISK";
    patch.startSector = "1";
    patch.value = "0";
    patch.what = "Update last partition";
    EXPECT_TRUE(host.patch(patch));
    EXPECT_FALSE(host.patch(patch));
    EXPECT_NE(host.failure().text.find("Update last partition"), std::string::npos);
    FirehoseHost other(link, quick(), {});
    EXPECT_TRUE(other.power("reset"));
}

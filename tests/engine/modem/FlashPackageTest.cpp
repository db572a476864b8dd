// The rawprogram/patch reader and the package checks: entries in order,
// faults naming the file and line, files that must stay inside the package.
#include "FlashPackage.h"
#include "FlashXmlFile.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <unistd.h>

using namespace modem;

namespace {

bool parse(const std::string& text, FlashXmlFile* file, std::string* why)
{
    return FlashXmlFile::parse(text.data(), text.size(), "rawprogram0.xml", file, why);
}

std::string program(const std::string& attributes)
{
    return "<program SECTOR_SIZE_IN_BYTES=\"512\" physical_partition_number=\"0\" " + attributes + " />";
}

std::string str(const QString& text) { return text.toStdString(); }

} // namespace

TEST(FlashXmlFileTest, EntriesInOrder)
{
    const std::string text = "<?xml version=\"1.0\" ?>\n<data>\n  <!-- layout -->\n"
        "  <program SECTOR_SIZE_IN_BYTES=\"4096\" file_sector_offset=\"2\" filename=\"sbl1.mbn\" label=\"sbl1\" "
        "num_partition_sectors=\"128\" physical_partition_number=\"1\" start_sector=\"6\" sparse=\"false\"/>\n"
        "  <program SECTOR_SIZE_IN_BYTES=\"512\" filename=\"\" label=\"gpt\" num_partition_sectors=\"33\" "
        "start_sector=\"NUM_DISK_SECTORS-33.\"/>\n"
        "  <program SECTOR_SIZE_IN_BYTES=\"512\" filename=\"system.img\" label=\"system\" "
        "start_sector=\"2048\" sparse=\"true\"/>\n"
        "  <patch SECTOR_SIZE_IN_BYTES=\"512\" byte_offset=\"48\" filename=\"DISK\" physical_partition_number=\"0\" "
        "size_in_bytes=\"8\" start_sector=\"1\" value=\"NUM_DISK_SECTORS-34.\" what=\"Update last partition\"/>\n"
        "  <patch SECTOR_SIZE_IN_BYTES=\"512\" byte_offset=\"48\" filename=\"gpt_main0.bin\" size_in_bytes=\"8\" "
        "start_sector=\"1\" value=\"CRC32(2,4096)\"/>\n"
        "</data>\n";
    FlashXmlFile file;
    std::string why;
    ASSERT_TRUE(parse(text, &file, &why)) << why;
    ASSERT_EQ(file.programs.size(), 3u);
    const ProgramEntry& first = file.programs[0];
    EXPECT_EQ(first.sectorSize, 4096u);
    EXPECT_EQ(first.fileSectorOffset, 2u);
    EXPECT_EQ(first.filename, "sbl1.mbn");
    EXPECT_EQ(first.numSectors, 128u);
    EXPECT_EQ(first.partition, 1u);
    EXPECT_EQ(first.startSector, "6");
    EXPECT_FALSE(first.sparse);
    EXPECT_EQ(first.line, 4);
    EXPECT_EQ(file.programs[1].startSector, "NUM_DISK_SECTORS-33.");
    EXPECT_TRUE(file.programs[2].sparse);
    ASSERT_EQ(file.patches.size(), 2u);
    EXPECT_TRUE(file.patches[0].forDevice());
    EXPECT_EQ(file.patches[0].sizeInBytes, 8u);
    EXPECT_EQ(file.patches[0].what, "Update last partition");
    EXPECT_FALSE(file.patches[1].forDevice());

    // Patch files as the layout tools write them.
    ASSERT_TRUE(parse("<?xml version=\"1.0\" ?>\n<patches>\n  <patch SECTOR_SIZE_IN_BYTES=\"512\" byte_offset=\"0\" "
                      "filename=\"DISK\" size_in_bytes=\"4\" start_sector=\"1\" value=\"7\"/>\n</patches>\n",
                      &file, &why)) << why;
    ASSERT_EQ(file.patches.size(), 1u);
    EXPECT_EQ(file.patches[0].line, 3);
}

TEST(FlashXmlFileTest, FaultsNameFileAndLine)
{
    struct Case
    {
        std::string body;
        std::string expected;
    };
    const Case cases[] = {
        {program("start_sector=\"x\""), "start_sector"},
        {program("start_sector=\"1\" num_partition_sectors=\"-4\""), "num_partition_sectors"},
        {program("start_sector=\"1\" num_partition_sectors=\"99999999999999999999\""), "num_partition_sectors"},
        {"<program SECTOR_SIZE_IN_BYTES=\"500\" start_sector=\"1\"/>", "sector size"},
        {"<program start_sector=\"1\"/>", "SECTOR_SIZE_IN_BYTES"},
        {program(""), "start_sector"},
        {"<patch SECTOR_SIZE_IN_BYTES=\"512\" byte_offset=\"0\" filename=\"DISK\" size_in_bytes=\"9\" "
         "start_sector=\"1\" value=\"0\"/>", "size_in_bytes"},
        {"<patch SECTOR_SIZE_IN_BYTES=\"512\" filename=\"DISK\" size_in_bytes=\"8\" start_sector=\"1\" value=\"0\"/>",
         "byte_offset"},
    };
    for (const Case& c : cases) {
        FlashXmlFile file;
        std::string why;
        EXPECT_FALSE(parse("<data>\n\n" + c.body + "\n</data>", &file, &why)) << c.body;
        EXPECT_EQ(why.rfind("rawprogram0.xml:3: ", 0), 0u) << why;
        EXPECT_NE(why.find(c.expected), std::string::npos) << why;
    }
    FlashXmlFile file;
    std::string why;
    EXPECT_FALSE(parse("<data>\n<program\n</data>", &file, &why));
    EXPECT_EQ(why.rfind("rawprogram0.xml:", 0), 0u) << why;
    EXPECT_FALSE(parse("<other/>", &file, &why));
    EXPECT_NE(why.find("<data>"), std::string::npos);
}

TEST(FlashPackageTest, DefaultsAndPlannedBytes)
{
    TempDir dir;
    dir.write("prog_firehose_ddr.elf", "programmer");
    dir.write("sbl1.mbn", QByteArray(1000, 's'));
    dir.write("modem.img", QByteArray(4096 * 3, 'm'));
    dir.write("split.img", QByteArray(512 * 10, 'x'));
    dir.write("rawprogram1.xml", QByteArray::fromStdString("<data>" + program("filename=\"modem.img\" label=\"modem\" start_sector=\"100\"") + "</data>"));
    dir.write("rawprogram0.xml", QByteArray::fromStdString("<data>\n"
        + program("filename=\"sbl1.mbn\" label=\"sbl1\" num_partition_sectors=\"8\" start_sector=\"34\"") + "\n"
        + program("filename=\"\" label=\"gpt\" start_sector=\"0\"") + "\n"
        + program("filename=\"split.img\" label=\"part2\" file_sector_offset=\"6\" num_partition_sectors=\"3\" start_sector=\"200\"")
        + "</data>"));
    dir.write("patch0.xml", "<data><patch SECTOR_SIZE_IN_BYTES=\"512\" byte_offset=\"0\" filename=\"DISK\" "
                            "size_in_bytes=\"4\" start_sector=\"1\" value=\"7\"/><patch SECTOR_SIZE_IN_BYTES=\"512\" "
                            "byte_offset=\"0\" filename=\"gpt.bin\" size_in_bytes=\"4\" start_sector=\"1\" value=\"7\"/></data>");
    FlashPackage package;
    std::string why;
    ASSERT_TRUE(FlashPackage::load(str(dir.path()), {}, &package, &why)) << why;
    EXPECT_EQ(package.programmerPath(), str(dir.file("prog_firehose_ddr.elf")));
    ASSERT_EQ(package.writes().size(), 3u); // the layout-only entry is left out
    // rawprogram0 before rawprogram1; sizes rounded up to whole sectors.
    EXPECT_EQ(package.writes()[0].entry.label, "sbl1");
    EXPECT_EQ(package.writes()[0].sectors, 2u);
    EXPECT_EQ(package.writes()[0].fileBytes, 1000u);
    EXPECT_EQ(package.writes()[0].source, "rawprogram0.xml:2");
    EXPECT_EQ(package.writes()[1].entry.label, "part2");
    EXPECT_EQ(package.writes()[1].fileOffset, 6u * 512);
    EXPECT_EQ(package.writes()[1].sectors, 3u);
    EXPECT_EQ(package.writes()[1].fileBytes, 3u * 512);
    EXPECT_EQ(package.writes()[2].entry.label, "modem");
    EXPECT_EQ(package.totalBytes(), 1024u + 1536u + 4096u * 3 / 512 * 512);
    ASSERT_EQ(package.patches().size(), 1u); // only patches of the device
}

TEST(FlashPackageTest, FilesMustResolveInsideThePackage)
{
    TempDir outside;
    outside.write("secret.img", "secret");
    TempDir dir;
    dir.write("prog_a.mbn", "p");
    dir.write("real.img", "data");
    ASSERT_EQ(::symlink("real.img", str(dir.file("link.img")).c_str()), 0);
    ASSERT_EQ(::symlink(str(outside.file("secret.img")).c_str(), str(dir.file("escape.img")).c_str()), 0);
    ASSERT_EQ(::mkdir(str(dir.file("folder.img")).c_str(), 0755), 0);

    std::string path;
    std::string why;
    EXPECT_TRUE(FlashPackage::resolve(str(dir.path()), "link.img", &path, &why)) << why;
    EXPECT_EQ(path, str(dir.file("real.img")));
    const std::pair<const char*, const char*> refused[] = {
        {"escape.img", "outside"}, {"../secret.img", "missing"}, {"folder.img", "regular"},
        {"missing.img", "missing"}, {"/etc/passwd", "not a file name"}, {"", "not a file name"}};
    for (const auto& [name, reason] : refused) {
        EXPECT_FALSE(FlashPackage::resolve(str(dir.path()), name, &path, &why)) << name;
        EXPECT_NE(why.find(reason), std::string::npos) << why;
    }

    // In a rawprogram file the fault names the file and line.
    dir.write("rawprogram0.xml", QByteArray::fromStdString("<data>\n" + program("filename=\"escape.img\" start_sector=\"0\"") + "</data>"));
    FlashPackage package;
    EXPECT_FALSE(FlashPackage::load(str(dir.path()), {}, &package, &why));
    EXPECT_EQ(why, "rawprogram0.xml:2: escape.img leads outside the package");
}

TEST(FlashPackageTest, PackageFaults)
{
    TempDir dir;
    FlashPackage package;
    std::string why;
    EXPECT_FALSE(FlashPackage::load(str(dir.path()), {}, &package, &why));
    EXPECT_NE(why.find("no programmer"), std::string::npos);
    dir.write("prog_a.mbn", "p");
    dir.write("prog_b.melf", "p");
    EXPECT_FALSE(FlashPackage::load(str(dir.path()), {}, &package, &why));
    EXPECT_NE(why.find("PROGRAMMER="), std::string::npos);
    EXPECT_FALSE(FlashPackage::load(str(dir.path()), {"prog_b.melf", {}, {}}, &package, &why));
    EXPECT_NE(why.find("rawprogram"), std::string::npos);

    dir.write("big.img", QByteArray(513, 'b'));
    dir.write("raw.xml", QByteArray::fromStdString("<data>" + program("filename=\"big.img\" num_partition_sectors=\"1\" start_sector=\"0\"") + "</data>"));
    EXPECT_FALSE(FlashPackage::load(str(dir.path()), {"prog_b.melf", {"raw.xml"}, {}}, &package, &why));
    EXPECT_NE(why.find("larger than its 1 sectors"), std::string::npos) << why;
}

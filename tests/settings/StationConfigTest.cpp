#include "settings/StationConfig.h"

#include "platform/StationPaths.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace {

class StationConfigTest : public ::testing::Test
{
protected:
    void SetUp() override { StationPaths::overrideExecutableDir(m_dir.path()); }
    void TearDown() override { StationPaths::overrideExecutableDir(QString()); }

    TempDir m_dir;
};

TEST_F(StationConfigTest, FileLiesBesideExecutable)
{
    EXPECT_EQ(StationConfig::file().path(), m_dir.file("config.ini"));
}

TEST_F(StationConfigTest, MissingFileGivesDefaults)
{
    EXPECT_FALSE(StationConfig::ReadRunFlag());
    EXPECT_EQ(StationConfig::ReadDLMode(), 0);
    EXPECT_EQ(StationConfig::ReadVersionPath(), QString());
    EXPECT_TRUE(ParsePorts(StationConfig::ReadPortsText()).isEmpty());
    EXPECT_FALSE(m_dir.exists("config.ini"));
}

TEST_F(StationConfigTest, RunFlagRoundTripKeepsOtherLines)
{
    m_dir.write("config.ini", "[DLOption]\r\nLANG=1\r\n[GET_DLL_Setting]\r\nPORTS=3,0,12\r\n");
    StationConfig::WriteRunFlag(true);
    EXPECT_TRUE(StationConfig::ReadRunFlag());
    EXPECT_EQ(m_dir.read("config.ini"),
              "[DLOption]\r\nLANG=1\r\nRunFlag=1\r\n[GET_DLL_Setting]\r\nPORTS=3,0,12\r\n");
    StationConfig::WriteRunFlag(false);
    EXPECT_FALSE(StationConfig::ReadRunFlag());

    // Set by hand to any nonzero number, the flag is on.
    m_dir.write("config.ini", "[DLOption]\nRunFlag=2\n");
    EXPECT_TRUE(StationConfig::ReadRunFlag());
    m_dir.write("config.ini", "[DLOption]\nRunFlag=x\n");
    EXPECT_FALSE(StationConfig::ReadRunFlag());
}

TEST_F(StationConfigTest, DLModeNumberOrNot)
{
    m_dir.write("config.ini", "[DLOption]\nDLMode=2\n");
    EXPECT_EQ(StationConfig::ReadDLMode(), 2);
    m_dir.write("config.ini", "[DLOption]\nDLMode=x\n");
    EXPECT_EQ(StationConfig::ReadDLMode(), 0);
}

TEST_F(StationConfigTest, AutoStartAndDuplicateImeiKeys)
{
    EXPECT_FALSE(StationConfig::ReadAutoStart());
    EXPECT_EQ(StationConfig::ReadAutoStartDelayMs(), 1500);
    EXPECT_TRUE(StationConfig::ReadDupImeiCheck());
    m_dir.write("config.ini", "[DLOption]\nAutoStart=1\nAutoStartDelayMs=800\nDupImeiCheck=0\n");
    EXPECT_TRUE(StationConfig::ReadAutoStart());
    EXPECT_EQ(StationConfig::ReadAutoStartDelayMs(), 800);
    EXPECT_FALSE(StationConfig::ReadDupImeiCheck());
    // A delay outside 0 to 60 s is held to it.
    m_dir.write("config.ini", "[DLOption]\nAutoStartDelayMs=-5\n");
    EXPECT_EQ(StationConfig::ReadAutoStartDelayMs(), 0);
    m_dir.write("config.ini", "[DLOption]\nAutoStartDelayMs=99999999999\n");
    EXPECT_EQ(StationConfig::ReadAutoStartDelayMs(), 60000);
}

TEST_F(StationConfigTest, RecordDbUrlAsWrittenOrEmpty)
{
    EXPECT_TRUE(StationConfig::ReadRecordDbUrl().isEmpty());
    m_dir.write("config.ini", "[RECORD_DB]\nURL=\n");
    EXPECT_TRUE(StationConfig::ReadRecordDbUrl().isEmpty());
    // A connection string keeps its own "=" signs and blanks.
    m_dir.write("config.ini", "[RECORD_DB]\nURL=host=db.example port=5433 dbname=production sslmode=verify-full\n");
    EXPECT_EQ(StationConfig::ReadRecordDbUrl(), "host=db.example port=5433 dbname=production sslmode=verify-full");
    m_dir.write("config.ini", "[RECORD_DB]\r\nURL=postgresql://station@db.example/production?sslmode=verify-full\r\n");
    EXPECT_EQ(StationConfig::ReadRecordDbUrl(), "postgresql://station@db.example/production?sslmode=verify-full");
}

TEST_F(StationConfigTest, FreshStationWritesOnlyNvPath)
{
    ASSERT_TRUE(StationConfig::WriteNvFilePath());
    EXPECT_EQ(m_dir.read("config.ini"), "[GET_DLL_Setting]\nITEM_NVFILE_PATH=" + m_dir.file("NV").toUtf8() + "\n");
}

TEST_F(StationConfigTest, VersionPathAndPortsRoundTrip)
{
    const QString dir = QStringLiteral(u"/srv/versions/版本 A");
    ASSERT_TRUE(StationConfig::WriteVersionPath(dir));
    EXPECT_EQ(StationConfig::ReadVersionPath(), dir);
    ASSERT_TRUE(StationConfig::WritePorts({5, 0, 0, 0, 0, 0, 0, -1}));
    EXPECT_EQ(StationConfig::ReadPortsText(), "5,0,0,0,0,0,0,-1");
}

TEST_F(StationConfigTest, LongValuesAreCutAt4000Bytes)
{
    m_dir.write("config.ini", "[GET_DLL_Setting]\nPORTS=" + QByteArray(5000, '1') + "\nITEM_VERSIONFILE_PATH=/"
                    + QByteArray(4500, 'd') + "\n");
    EXPECT_EQ(StationConfig::ReadPortsText().size(), 4000);
    EXPECT_EQ(StationConfig::ReadVersionPath().size(), 4000);
}

struct Port
{
    const char* name;
    int number;
};

void expectPorts(const QByteArray& text, std::initializer_list<Port> expected)
{
    SCOPED_TRACE(text.toStdString());
    const QList<LinePort> ports = ParsePorts(text);
    ASSERT_EQ(ports.size(), qsizetype(expected.size()));
    qsizetype i = 0;
    for (const Port& port : expected) {
        EXPECT_EQ(ports[i].name, QString::fromUtf8(port.name)) << "element " << i;
        EXPECT_EQ(ports[i].number, port.number) << "element " << i;
        ++i;
    }
}

TEST(ParsePorts, ElementsAsWritten)
{
    expectPorts("", {});
    expectPorts("3,0,12", {{"USB_3", 3}, {"NULL", 0}, {"USB_12", 12}});
    expectPorts("007", {{"USB_007", 7}});
    expectPorts("abc", {{"NULL", 0}});
    expectPorts("5,,7,", {{"USB_5", 5}, {"NULL", 0}, {"USB_7", 7}, {"NULL", 0}});
    expectPorts(" 4x,-2", {{"USB_ 4x", 4}, {"USB_-2", -2}});
    expectPorts("1,2,3,4,5,6,7,8,9,10",
                {{"USB_1", 1}, {"USB_2", 2}, {"USB_3", 3}, {"USB_4", 4}, {"USB_5", 5}, {"USB_6", 6}, {"USB_7", 7},
                 {"USB_8", 8}});
}

TEST(FormatPorts, EightNumbersNoBlanks)
{
    EXPECT_EQ(FormatPorts({}), "0,0,0,0,0,0,0,0");
    EXPECT_EQ(FormatPorts({3, 0, 12, 0, 0, 0, 0, 2147483647}), "3,0,12,0,0,0,0,2147483647");
    // What is written reads back to the same numbers.
    const std::array<int, 8> numbers{7, -3, 0, 1234, 1, 2, 3, 4};
    const QList<LinePort> ports = ParsePorts(FormatPorts(numbers));
    ASSERT_EQ(ports.size(), 8);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(ports[i].number, numbers[i]);
}

TEST(PortFromText, NullOrNumberAfterFourCharacters)
{
    struct Case
    {
        const char* text;
        int number;
    };
    for (const Case& c : {Case{"USB_007", 7}, Case{"usb_9", 9}, Case{"COM3", 0}, Case{"NULL", 0},
                          Case{"null", 0}, Case{"USB_1234", 1234}, Case{"USB", 0}, Case{"", 0},
                          Case{"XXXX -5", -5}}) {
        SCOPED_TRACE(c.text);
        const LinePort port = PortFromText(QString::fromUtf8(c.text));
        EXPECT_EQ(port.number, c.number);
        EXPECT_EQ(port.name, QString::fromUtf8(c.text));
    }
}

TEST(PortDisplayName, ThreeDigitsAtLeast)
{
    EXPECT_EQ(PortDisplayName(7), QStringLiteral("USB_007"));
    EXPECT_EQ(PortDisplayName(12), QStringLiteral("USB_012"));
    EXPECT_EQ(PortDisplayName(1234), QStringLiteral("USB_1234"));
    EXPECT_EQ(PortFromText(PortDisplayName(42)).number, 42);
}

} // namespace

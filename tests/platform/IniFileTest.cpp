#include "platform/IniFile.h"

#include "support/TempDir.h"

#include <QFile>

#include <gtest/gtest.h>

#include <climits>

#include <sys/stat.h>

namespace {

class IniFileTest : public ::testing::Test
{
protected:
    IniFile write(const QByteArray& content)
    {
        m_dir.write("config.ini", content);
        return IniFile(m_dir.file("config.ini"));
    }
    QByteArray bytes() const { return m_dir.read("config.ini"); }

    TempDir m_dir;
};

TEST_F(IniFileTest, MissingFileGivesDefaults)
{
    const IniFile ini(m_dir.file("config.ini"));
    EXPECT_FALSE(ini.exists());
    EXPECT_EQ(ini.readText("GET_DLL_Setting", "PORTS"), QByteArray());
    EXPECT_EQ(ini.readText("GET_DLL_Setting", "PORTS", "dflt"), "dflt");
    EXPECT_EQ(ini.readInt("DLOption", "LANG", 0), 0);
    EXPECT_EQ(ini.readInt("DLOption", "LANG", 7), 7);
}

TEST_F(IniFileTest, ReadsTextWithTrimQuotesAndCase)
{
    const IniFile ini = write("; station settings\r\n"
                              "  [ dloption ]  \r\n"
                              "  lang = 1  \r\n"
                              "Path=\"  spaced  \"\r\n"
                              "Single='x'\r\n"
                              "Mixed=\"x'\r\n"
                              "Lone=\"\r\n"
                              "Empty=\r\n"
                              "Eq=a=b\r\n");
    EXPECT_EQ(ini.readInt("DLOption", "LANG"), 1);
    EXPECT_EQ(ini.readText("DLOPTION", "Path"), "  spaced  ");
    EXPECT_EQ(ini.readText("DLOption", "single"), "x");
    EXPECT_EQ(ini.readText("DLOption", "Mixed"), "\"x'");
    EXPECT_EQ(ini.readText("DLOption", "Lone"), "\"");
    EXPECT_EQ(ini.readText("DLOption", "Empty", "dflt"), QByteArray());
    EXPECT_EQ(ini.readText("DLOption", "Eq"), "a=b");
    EXPECT_EQ(ini.readText("Other", "LANG", "dflt"), "dflt");
}

TEST_F(IniFileTest, FirstSectionAndFirstKeyWin)
{
    const IniFile ini = write("[A]\nk=first\nk=second\nonlyInFirst=1\n"
                              "[B]\nk=b\n"
                              "[a]\nk=third\nonlyInSecond=2\n");
    EXPECT_EQ(ini.readText("A", "k"), "first");
    EXPECT_EQ(ini.readText("B", "K"), "b");
    EXPECT_EQ(ini.readText("A", "onlyInSecond", "none"), "none");
}

TEST_F(IniFileTest, LinesWithoutEqualsAndOutsideSectionsAreIgnored)
{
    const IniFile ini = write("k=outside\n[S]\njust text\nk\n[no close\nk=other\n");
    EXPECT_EQ(ini.readText("S", "k", "none"), "none");
    EXPECT_EQ(ini.readText("no close", "k"), "other");
}

TEST_F(IniFileTest, ByteOrderMarkIsSkipped)
{
    const IniFile ini = write("\xEF\xBB\xBF[VintrelText]\nK=v\n");
    EXPECT_EQ(ini.readText("VintrelText", "K"), "v");
}

TEST_F(IniFileTest, TextIsCutToCapacityMinusOne)
{
    const IniFile ini = write("[S]\nk=" + QByteArray(250, 'x') + "\n");
    EXPECT_EQ(ini.readText("S", "k", {}, 200), QByteArray(199, 'x'));
    EXPECT_EQ(ini.readText("S", "k", {}, 1), QByteArray());
    EXPECT_EQ(ini.readText("S", "missing", "abcdef", 4), "abc");
}

TEST_F(IniFileTest, ReadsIntegers)
{
    const IniFile ini = write("[DLOption]\nDLMode=2\nX=x\nLead=  -12abc\nPlus=+7\n"
                              "Empty=\nBig=99999999999\nSmall=-99999999999\n");
    EXPECT_EQ(ini.readInt("DLOption", "DLMode"), 2);
    EXPECT_EQ(ini.readInt("DLOption", "X", 5), 0);
    EXPECT_EQ(ini.readInt("DLOption", "Lead"), -12);
    EXPECT_EQ(ini.readInt("DLOption", "Plus"), 7);
    EXPECT_EQ(ini.readInt("DLOption", "Empty", 5), 5);
    EXPECT_EQ(ini.readInt("DLOption", "Big"), INT_MAX);
    EXPECT_EQ(ini.readInt("DLOption", "Small"), INT_MIN);
}

TEST(LeadingInt, FollowsAtoi)
{
    EXPECT_EQ(LeadingInt("007"), 7);
    EXPECT_EQ(LeadingInt(" \t\n12,3"), 12);
    EXPECT_EQ(LeadingInt("abc"), 0);
    EXPECT_EQ(LeadingInt(""), 0);
    EXPECT_EQ(LeadingInt("-"), 0);
    EXPECT_EQ(LeadingInt("- 5"), 0);
    EXPECT_EQ(LeadingInt("-2147483648"), INT_MIN);
    EXPECT_EQ(LeadingInt("2147483647"), INT_MAX);
    EXPECT_EQ(LeadingInt("2147483648"), INT_MAX);
    EXPECT_EQ(LeadingInt("00000000000000000000000000042"), 42);
}

TEST_F(IniFileTest, WriteKeepsEveryOtherLineByteForByte)
{
    const QByteArray before = "; comment =\r\n"
                              "[DLOption]\r\n"
                              "RunFlag = 0   \r\n"
                              "  note without equals\r\n"
                              "\r\n"
                              "[GET_DLL_Setting]\r\n"
                              "PORTS=1,2\r\n"
                              "\tITEM_NVFILE_PATH = /x/NV\r\n"
                              "\r\n"
                              "; trailer\r\n";
    const IniFile ini = write(before);
    ASSERT_TRUE(ini.writeText("dloption", "runflag", "1"));
    QByteArray expected = before;
    expected.replace("RunFlag = 0   \r\n", "RunFlag=1   \r\n");
    EXPECT_EQ(bytes(), expected);

    ASSERT_TRUE(ini.writeText("GET_DLL_Setting", "ITEM_VERSIONFILE_PATH", "/opt/v"));
    expected.replace("ITEM_NVFILE_PATH = /x/NV\r\n", "ITEM_NVFILE_PATH = /x/NV\r\nITEM_VERSIONFILE_PATH=/opt/v\r\n");
    EXPECT_EQ(bytes(), expected);

    ASSERT_TRUE(ini.writeText("DLOption", "DLMode", "0"));
    expected.replace("RunFlag=1   \r\n", "RunFlag=1   \r\nDLMode=0\r\n");
    EXPECT_EQ(bytes(), expected);

    ASSERT_TRUE(ini.writeText("New", "k", "v"));
    expected += "[New]\r\nk=v\r\n";
    EXPECT_EQ(bytes(), expected);
}

TEST_F(IniFileTest, WriteCreatesFileSectionAndKey)
{
    const IniFile ini(m_dir.file("config.ini"));
    ASSERT_TRUE(ini.writeText("GET_DLL_Setting", "ITEM_NVFILE_PATH", "/s/NV"));
    EXPECT_EQ(bytes(), "[GET_DLL_Setting]\nITEM_NVFILE_PATH=/s/NV\n");
    ASSERT_TRUE(ini.writeText("DLOption", "RunFlag", "1"));
    EXPECT_EQ(bytes(), "[GET_DLL_Setting]\nITEM_NVFILE_PATH=/s/NV\n[DLOption]\nRunFlag=1\n");
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(ini.path()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST_F(IniFileTest, WriteIntoFileWithoutFinalLineBreak)
{
    const IniFile ini = write("[S]\na=1");
    ASSERT_TRUE(ini.writeText("S", "b", "2"));
    EXPECT_EQ(bytes(), "[S]\na=1\nb=2\n");
    ASSERT_TRUE(ini.writeText("T", "c", "3"));
    EXPECT_EQ(bytes(), "[S]\na=1\nb=2\n[T]\nc=3\n");
    const IniFile header = write("[S]");
    ASSERT_TRUE(header.writeText("S", "k", "v"));
    EXPECT_EQ(bytes(), "[S]\nk=v\n");
}

TEST_F(IniFileTest, NewKeyGoesAfterLastKeyOfFirstSection)
{
    const IniFile ini = write("[S]\na=1\nplain line\n\n[T]\nx=1\n[S]\nz=9\n");
    ASSERT_TRUE(ini.writeText("S", "b", "2"));
    EXPECT_EQ(bytes(), "[S]\na=1\nb=2\nplain line\n\n[T]\nx=1\n[S]\nz=9\n");
    ASSERT_TRUE(ini.writeText("s", "Z", "1"));
    EXPECT_EQ(bytes(), "[S]\na=1\nb=2\nZ=1\nplain line\n\n[T]\nx=1\n[S]\nz=9\n");
}

TEST_F(IniFileTest, WrittenValuesReadBackExactly)
{
    const IniFile ini(m_dir.file("config.ini"));
    for (const QByteArray& value : {QByteArray("  padded "), QByteArray("\"quoted\""), QByteArray("'q'"),
                                    QByteArray("\""), QByteArray(""), QByteArray("a;b=c")}) {
        ASSERT_TRUE(ini.writeText("S", "k", value));
        EXPECT_EQ(ini.readText("S", "k", "dflt"), value);
    }
}

TEST_F(IniFileTest, WriteRefusesTextThatWouldBecomeOtherLines)
{
    const QByteArray before = "[S]\nk=1\n";
    const IniFile ini = write(before);
    EXPECT_FALSE(ini.writeText("S", "k", "1\n[Evil]\nx=1"));
    EXPECT_FALSE(ini.writeText("S]x", "k", "1"));
    EXPECT_FALSE(ini.writeText("S", "a=b", "1"));
    EXPECT_FALSE(ini.writeText("S", "k\r", "1"));
    EXPECT_EQ(bytes(), before);
}

TEST_F(IniFileTest, WriteFailsInMissingFolder)
{
    const IniFile ini(m_dir.file("missing/config.ini"));
    EXPECT_FALSE(ini.writeText("S", "k", "v"));
    EXPECT_FALSE(m_dir.exists("missing"));
}

} // namespace

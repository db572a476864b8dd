#include "settings/LanguageText.h"

#include "platform/SystemLocale.h"

#include "support/TempDir.h"

#include <QFile>

#include <gtest/gtest.h>

namespace {

class LanguageTextTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_dir.write("lang/LAN_ENG.ini", "[VintrelText]\nIDC_EXE_CLEAN=Clear\nIDC_EXE_ABOUT=\n");
        m_dir.write("lang/LAN_CHN.ini", "[VintrelText]\nIDC_EXE_CLEAN=\xE6\xB8\x85\xE9\x9B\xB6\n");
    }
    void TearDown() override { SystemLocale::overrideLocale(""); }

    QString chosenFile(const char* locale, const QByteArray& config)
    {
        SystemLocale::overrideLocale(locale);
        if (!config.isNull())
            m_dir.write("config.ini", config);
        return QFileInfo(LanguageText(m_dir.path()).LanguageFilePath()).fileName();
    }

    TempDir m_dir;
};

TEST_F(LanguageTextTest, LangAndSystemLanguageChooseTheFile)
{
    EXPECT_EQ(chosenFile("zh_CN", {}), "LAN_ENG.ini"); // no config.ini
    EXPECT_EQ(chosenFile("zh_CN", "[DLOption]\nLANG=0\n"), "LAN_ENG.ini");
    EXPECT_EQ(chosenFile("en_US", "[DLOption]\nLANG=1\n"), "LAN_CHN.ini");
    EXPECT_EQ(chosenFile("zh_TW", "[DLOption]\nLANG=2\n"), "LAN_CHN.ini");
    EXPECT_EQ(chosenFile("de_DE", "[DLOption]\nLANG=2\n"), "LAN_ENG.ini");
    EXPECT_EQ(chosenFile("zh_CN", "[DLOption]\nLANG=-1\n"), "LAN_CHN.ini");
    EXPECT_EQ(chosenFile("zh_CN", "[DLOption]\nLANG=x\n"), "LAN_ENG.ini");
}

TEST_F(LanguageTextTest, PathAndSettingAreKept)
{
    m_dir.write("config.ini", "[DLOption]\nLANG=1\n");
    const LanguageText text(m_dir.path());
    EXPECT_EQ(text.LanguageFilePath(), m_dir.file("lang/LAN_CHN.ini"));
    EXPECT_EQ(text.ExecutableDir(), m_dir.path());
    EXPECT_EQ(text.LanguageSetting(), 1);
    EXPECT_EQ(text.Lookup("IDC_EXE_CLEAN"), QStringLiteral(u"清零"));
}

TEST_F(LanguageTextTest, MissingKeyEmptyValueAndMissingFileGiveEmptyText)
{
    const LanguageText text(m_dir.path());
    EXPECT_EQ(text.Lookup("IDC_EXE_CLEAN"), QStringLiteral("Clear"));
    EXPECT_TRUE(text.Lookup("IDC_EXE_ABOUT").isEmpty());
    EXPECT_TRUE(text.Lookup("IDC_EXE_HELP").isEmpty());
    EXPECT_TRUE(text.Lookup(nullptr).isEmpty());

    TempDir empty;
    EXPECT_TRUE(LanguageText(empty.path()).Lookup("IDC_EXE_CLEAN").isEmpty());
}

TEST_F(LanguageTextTest, LookupReadsTheFileAnew)
{
    const LanguageText text(m_dir.path());
    EXPECT_EQ(text.Lookup("IDC_EXE_CLEAN"), QStringLiteral("Clear"));
    m_dir.write("lang/LAN_ENG.ini", "[VintrelText]\nIDC_EXE_CLEAN=Reset\n");
    EXPECT_EQ(text.Lookup("IDC_EXE_CLEAN"), QStringLiteral("Reset"));
}

TEST_F(LanguageTextTest, LongTextIsCutTo199Bytes)
{
    const QByteArray longText = QByteArray(248, 'a') + "%d";
    m_dir.write("lang/LAN_ENG.ini", "[VintrelText]\nK=" + longText + "\nC=" + QByteArray(66, 'x') + "\xE5\x8D\x87"
                    + QByteArray("\xE7\xBA\xA7").repeated(50) + "\n");
    const LanguageText text(m_dir.path());
    EXPECT_EQ(text.LookupBytes("K"), longText.left(199));
    EXPECT_EQ(text.Lookup("K"), QString::fromLatin1(longText.left(199)));
    // 66 + 3 * 44 = 198 bytes of whole characters; the 199th byte starts
    // a character that is cut and dropped.
    EXPECT_EQ(text.LookupBytes("C").size(), 199);
    EXPECT_EQ(text.Lookup("C"), QString(66, 'x') + QStringLiteral(u"升") + QString(QStringLiteral(u"级")).repeated(43));
}

TEST_F(LanguageTextTest, GbkLanguageFileDisplaysCorrectly)
{
    QFile gbk(QStringLiteral(STATION_TEST_DATA "/LAN_CHN_gbk.ini"));
    ASSERT_TRUE(gbk.open(QIODevice::ReadOnly));
    m_dir.write("lang/LAN_CHN.ini", gbk.readAll());
    m_dir.write("config.ini", "[DLOption]\nLANG=1\n");
    const LanguageText text(m_dir.path());
    EXPECT_EQ(text.Lookup("IDC_EXE_INFO_DOWNLOADSUCC"), QStringLiteral(u"升级成功"));
    EXPECT_EQ(text.Lookup("IDC_EXE_INFO_MATCHVERSIONERROR"), QStringLiteral(u"版本不匹配"));
    EXPECT_EQ(text.LookupBytes("IDC_EXE_INFO_DOWNLOADFAIL"), "\xC9\xFD\xBC\xB6\xCA\xA7\xB0\xDC");
}

TEST(LanguageTextInstance, EmptyUntilSetThenTheGivenObject)
{
    EXPECT_TRUE(LanguageText::Instance().Lookup("IDC_EXE_CLEAN").isEmpty());
    TempDir dir;
    dir.write("lang/LAN_ENG.ini", "[VintrelText]\nIDC_EXE_CLEAN=Clear\n");
    const LanguageText text(dir.path());
    LanguageText::SetInstance(&text);
    EXPECT_EQ(&LanguageText::Instance(), &text);
    EXPECT_EQ(LanguageText::Instance().Lookup("IDC_EXE_CLEAN"), QStringLiteral("Clear"));
    LanguageText::SetInstance(nullptr);
    EXPECT_TRUE(LanguageText::Instance().Lookup("IDC_EXE_CLEAN").isEmpty());
}

// The delivered language files hold every key, with the agreed texts.
TEST(DeliveredLanguageFiles, HoldEveryKey)
{
    const char* keys[] = {"IDC_EXE_BTN_FILE", "IDC_EXE_STARTALL", "IDC_EXE_CLEAN", "IDC_EXE_TXT_SUCCESS",
                          "IDC_EXE_TXT_SUCCESSALL", "IDC_EXE_TXT_TIMENOW", "IDC_EXE_TXT_LASTCLEANTIME",
                          "IDC_EXE_TXT_BTN_START", "IDC_EXE_MENU", "IDC_EXE_HELP", "IDC_EXE_PORT",
                          "IDC_EXE_EXCEL_EXPORT", "IDC_EXE_ABOUT", "IDC_EXE_INFO_EXERUNNING", "IDC_EXE_INFO_RUNNING",
                          "IDC_EXE_INFO_VERSIONPATHNULL", "IDC_EXE_INFO_CLEAN", "IDC_EXE_INFO_CHECKVERSION",
                          "IDC_EXE_INFO_FILEVERSIONERROR", "IDC_EXE_INFO_MATCHVERSIONERROR", "IDC_EXE_INFO_IMEIERROR",
                          "IDC_EXE_INFO_NODEVICE", "IDC_EXE_INFO_PHONEINARMMODE", "IDC_EXE_INFO_CLICKSTARTBTN",
                          "IDC_EXE_INFO_DOWNLOADSUCC", "IDC_EXE_INFO_DOWNLOADFAIL", "IDC_EXE_INFO_DUPLICATEIMEI"};
    TempDir dir;
    for (const char* file : {"LAN_ENG.ini", "LAN_CHN.ini"}) {
        QFile source(QStringLiteral(STATION_SOURCE_DIR "/res/lang/") + file);
        ASSERT_TRUE(source.open(QIODevice::ReadOnly));
        dir.write(QStringLiteral("lang/") + file, source.readAll());
    }
    dir.write("config.ini", "[DLOption]\nLANG=0\n");
    const LanguageText english(dir.path());
    dir.write("config.ini", "[DLOption]\nLANG=1\n");
    const LanguageText chinese(dir.path());
    for (const char* key : keys) {
        SCOPED_TRACE(key);
        EXPECT_FALSE(english.Lookup(key).isEmpty());
        EXPECT_FALSE(chinese.Lookup(key).isEmpty());
        EXPECT_LT(english.LookupBytes(key).size(), 199);
        EXPECT_LT(chinese.LookupBytes(key).size(), 199);
    }
    EXPECT_EQ(english.Lookup("IDC_EXE_INFO_DOWNLOADSUCC"), QStringLiteral("Download succeed"));
    EXPECT_EQ(chinese.Lookup("IDC_EXE_INFO_DOWNLOADSUCC"), QStringLiteral(u"升级成功"));
    EXPECT_EQ(chinese.Lookup("IDC_EXE_INFO_DOWNLOADFAIL"), QStringLiteral(u"升级失败"));
    EXPECT_EQ(chinese.Lookup("IDC_EXE_INFO_MATCHVERSIONERROR"), QStringLiteral(u"版本不匹配"));
    EXPECT_EQ(english.Lookup("IDC_EXE_INFO_DUPLICATEIMEI"), QStringLiteral("Same IMEI as another line"));
    EXPECT_EQ(chinese.Lookup("IDC_EXE_INFO_DUPLICATEIMEI"), QStringLiteral(u"与其他线路的IMEI相同"));
}

} // namespace

#include "platform/TextCodec.h"

#include <QFile>

#include <gtest/gtest.h>

namespace {

TEST(TextCodec, DecodesUtf8)
{
    EXPECT_EQ(TextCodec::decode("Start All"), QStringLiteral("Start All"));
    EXPECT_EQ(TextCodec::decode("\xE5\x8D\x87\xE7\xBA\xA7\xE6\x88\x90\xE5\x8A\x9F"), QStringLiteral(u"升级成功"));
    EXPECT_EQ(TextCodec::decode("\xF0\x9F\x98\x80"), QString::fromUcs4(U"\U0001F600"));
    EXPECT_EQ(TextCodec::decode(QByteArray()), QString());
}

TEST(TextCodec, DropsUtf8CharacterCutAtTheEnd)
{
    const QByteArray full = TextCodec::encode(QStringLiteral(u"版本不匹配"));
    EXPECT_EQ(TextCodec::decode(full.left(full.size() - 1)), QStringLiteral(u"版本不匹"));
    EXPECT_EQ(TextCodec::decode(full.left(full.size() - 2)), QStringLiteral(u"版本不匹"));
    EXPECT_EQ(TextCodec::decode("ab\xF0\x9F\x98"), QStringLiteral("ab"));
}

TEST(TextCodec, DecodesGbk)
{
    // 升级成功 and 版本不匹配 in code page 936.
    EXPECT_EQ(TextCodec::decode("\xC9\xFD\xBC\xB6\xB3\xC9\xB9\xA6"), QStringLiteral(u"升级成功"));
    EXPECT_EQ(TextCodec::decode("OK \xB0\xE6\xB1\xBE\xB2\xBB\xC6\xA5\xC5\xE4"), QStringLiteral(u"OK 版本不匹配"));
    // A GBK text cut inside its last character loses that character only.
    EXPECT_EQ(TextCodec::decode("\xC9\xFD\xBC\xB6\xB3"), QStringLiteral(u"升级"));
}

TEST(TextCodec, InvalidUtf8ThatIsNoGbkStillDecodes)
{
    // 0xFF is neither UTF-8 nor a GBK byte: replaced, the rest kept.
    EXPECT_EQ(TextCodec::decode("a\xFF" "b"), QStringLiteral(u"a\uFFFDb"));
    // Overlong UTF-8 is not taken as UTF-8.
    EXPECT_NE(TextCodec::decode("\xC0\xAF"), QStringLiteral("/"));
}

TEST(TextCodec, GbkLanguageFileDecodesLikeUtf8Original)
{
    QFile gbk(QStringLiteral(STATION_TEST_DATA "/LAN_CHN_gbk.ini"));
    ASSERT_TRUE(gbk.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = gbk.readAll().split('\n');
    int chinese = 0;
    for (const QByteArray& line : lines) {
        if (line.contains("IDC_EXE_INFO_DOWNLOADFAIL="))
            EXPECT_EQ(TextCodec::decode(line.mid(line.indexOf('=') + 1)), QStringLiteral(u"升级失败"));
        if (TextCodec::decode(line).contains(QStringLiteral(u"升")))
            ++chinese;
    }
    EXPECT_GE(chinese, 3);
}

} // namespace

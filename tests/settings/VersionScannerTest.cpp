#include "settings/VersionScanner.h"

#include "support/TempDir.h"

#include <QDir>

#include <gtest/gtest.h>

#include <random>

namespace {

const QByteArray Display = "ro.build.display.id=";
const QByteArray Internal = "ro.build.sw_internal_version=";

VersionScanner::Result scanBytes(const QByteArray& content,
                                 qsizetype blockSize = VersionScanner::DefaultBlockSize,
                                 qsizetype valueLimit = VersionScanner::DefaultValueLimit)
{
    TempDir dir;
    dir.write("system.img", content);
    return VersionScanner(blockSize, valueLimit).scan(dir.file("system.img"));
}

// Whole-buffer reading of the same rules, to hold the block-wise scanner to.
VersionScanner::Result reference(const QByteArray& data, qsizetype limit)
{
    VersionScanner::Result r;
    qsizetype pos = 0;
    while (!(r.displayFound && r.internalFound)) {
        const qsizetype lf = data.indexOf('\n', pos);
        if (lf < 0)
            break;
        const qsizetype start = lf + 1;
        const QByteArray rest = data.mid(start);
        QByteArray* value = nullptr;
        qsizetype keyLength = 0;
        if (rest.startsWith(Display)) {
            value = &r.displayVersion;
            r.displayFound = true;
            keyLength = Display.size();
        } else if (rest.startsWith(Internal)) {
            value = &r.internalVersion;
            r.internalFound = true;
            keyLength = Internal.size();
        } else {
            pos = start;
            continue;
        }
        const qsizetype from = start + keyLength;
        qsizetype end = data.indexOf('\n', from);
        if (end < 0)
            end = data.size();
        *value = data.mid(from, end - from).left(limit).replace('\0', ' ');
        pos = end;
    }
    return r;
}

void expectSame(const VersionScanner::Result& expected, const VersionScanner::Result& actual)
{
    EXPECT_EQ(actual.outcome, VersionScanner::Outcome::Complete);
    EXPECT_EQ(actual.displayFound, expected.displayFound);
    EXPECT_EQ(actual.internalFound, expected.internalFound);
    EXPECT_EQ(actual.displayVersion, expected.displayVersion);
    EXPECT_EQ(actual.internalVersion, expected.internalVersion);
}

} // namespace

TEST(VersionScanner, KeyCountsOnlyRightAfterLineFeed)
{
    auto r = scanBytes("junk\nro.build.display.id=ABC_DE_V1.0\nmore");
    EXPECT_TRUE(r.displayFound);
    EXPECT_EQ(r.displayVersion, "ABC_DE_V1.0");
    EXPECT_FALSE(r.internalFound);

    r = scanBytes("ro.build.display.id=AT_ZERO\nx\rro.build.sw_internal_version=AFTER_CR\n"
                  "x ro.build.display.id=AFTER_SPACE\n");
    EXPECT_FALSE(r.displayFound);
    EXPECT_FALSE(r.internalFound);
    EXPECT_EQ(r.outcome, VersionScanner::Outcome::Complete);
}

TEST(VersionScanner, ValueKeepsCarriageReturnAndReadsZeroBytesAsSpaces)
{
    static constexpr char content[] = "\nro.build.display.id=A\0B\0\0C\r\n"
                                      "\nro.build.sw_internal_version=I\r\r\n";
    const auto r = scanBytes(QByteArray(content, sizeof(content) - 1));
    EXPECT_EQ(r.displayVersion, QByteArray("A B  C\r"));
    EXPECT_EQ(r.internalVersion, QByteArray("I\r\r"));
}

// The fault this replaces: an internal line close behind the display line
// was never seen, and the file was scanned again without end.
TEST(VersionScanner, BothLinesInOneBlockEndTheScan)
{
    const auto r = scanBytes("hdr\nro.build.display.id=D1\nro.build.sw_internal_version=I1\n"
                             "ro.build.display.id=LATER\n");
    EXPECT_EQ(r.displayVersion, "D1");
    EXPECT_EQ(r.internalVersion, "I1");

    const auto reversed = scanBytes("\nro.build.sw_internal_version=I2\n\nro.build.display.id=D2\n");
    EXPECT_EQ(reversed.displayVersion, "D2");
    EXPECT_EQ(reversed.internalVersion, "I2");
}

TEST(VersionScanner, LastOccurrenceBeforeTheEndWins)
{
    const auto r = scanBytes("\nro.build.display.id=FIRST\nx\nro.build.display.id=SECOND\n"
                             "\nro.build.sw_internal_version=INT\n\nro.build.display.id=AFTER_END\n");
    EXPECT_EQ(r.displayVersion, "SECOND");
    EXPECT_EQ(r.internalVersion, "INT");

    const auto internalTwice = scanBytes("\nro.build.sw_internal_version=A\n"
                                         "\nro.build.sw_internal_version=B\n\nro.build.display.id=D\n");
    EXPECT_EQ(internalTwice.internalVersion, "B");
}

TEST(VersionScanner, EndOfFileClosesAnOpenValue)
{
    auto r = scanBytes("\nro.build.display.id=D\nro.build.sw_internal_version=TO_THE_END");
    EXPECT_TRUE(r.internalFound);
    EXPECT_EQ(r.internalVersion, "TO_THE_END");

    r = scanBytes("\nro.build.display.id=D\nro.build.sw_internal_ver");
    EXPECT_FALSE(r.internalFound);

    r = scanBytes("\nro.build.display.id=");
    EXPECT_TRUE(r.displayFound);
    EXPECT_TRUE(r.displayVersion.isEmpty());
}

TEST(VersionScanner, TinyAndEmptyFilesAreScanned)
{
    EXPECT_TRUE(scanBytes("\nro.build.display.id=X").displayFound);
    const auto empty = scanBytes("");
    EXPECT_EQ(empty.outcome, VersionScanner::Outcome::Complete);
    EXPECT_FALSE(empty.displayFound);
}

// Every split of line feed, key and value across two blocks.
TEST(VersionScanner, LinesAcrossBlockBoundaries)
{
    const QByteArray content = "abc\nro.build.display.id=ABC_DE_V1.0\r\n"
                               "\nro.build.sw_internal_version=ABC_INT_V2\n";
    for (qsizetype block = 1; block <= content.size() + 1; ++block) {
        SCOPED_TRACE(block);
        const auto r = scanBytes(content, block);
        EXPECT_EQ(r.displayVersion, "ABC_DE_V1.0\r");
        EXPECT_EQ(r.internalVersion, "ABC_INT_V2");
    }
}

TEST(VersionScanner, ValueLongerThanABlockIsCutAtTheLimit)
{
    const QByteArray longValue(5000, 'x');
    const QByteArray content = "\nro.build.display.id=" + longValue
                               + "\nro.build.sw_internal_version=I\n";
    auto r = scanBytes(content, 16);
    EXPECT_EQ(r.displayVersion, longValue.left(VersionScanner::DefaultValueLimit));
    EXPECT_EQ(r.internalVersion, "I"); // the rest of the long line is skipped, not lost

    r = scanBytes(content, 16, 8000);
    EXPECT_EQ(r.displayVersion, longValue);
}

TEST(VersionScanner, AgreesWithWholeFileReadingOnRandomImages)
{
    const QList<QByteArray> pieces = {"\n", "\n", Display, Internal, "ro.build.", "V1.0", "x",
                                      QByteArray(1, '\0'), "\r", QByteArray(40, 'y')};
    std::mt19937 random(4);
    for (int round = 0; round < 300; ++round) {
        QByteArray content;
        const int count = int(random() % 40);
        for (int i = 0; i < count; ++i)
            content += pieces[random() % pieces.size()];
        const qsizetype block = qsizetype(1 + random() % 64);
        const qsizetype limit = qsizetype(random() % 60);
        SCOPED_TRACE(testing::Message() << "round " << round << " block " << block << " limit " << limit);
        expectSame(reference(content, limit), scanBytes(content, block, limit));
    }
}

TEST(VersionScanner, StopsBeforeTheNextBlock)
{
    TempDir dir;
    dir.write("system.img", "\nro.build.display.id=D\nro.build.sw_internal_version=I\n");
    const std::atomic_bool stop{true};
    const auto r = VersionScanner().scan(dir.file("system.img"), &stop);
    EXPECT_EQ(r.outcome, VersionScanner::Outcome::Stopped);
    EXPECT_FALSE(r.displayFound);
}

TEST(VersionScanner, MissingFileOrDirectoryIsUnreadable)
{
    TempDir dir;
    EXPECT_EQ(VersionScanner().scan(dir.file("system.img")).outcome, VersionScanner::Outcome::Unreadable);
    ASSERT_TRUE(QDir().mkpath(dir.file("system.img")));
    EXPECT_EQ(VersionScanner().scan(dir.file("system.img")).outcome, VersionScanner::Outcome::Unreadable);
}

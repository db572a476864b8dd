#include "core/FileStamp.h"
#include "core/InputFile.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

std::string nativePath(const TempDir& dir, const char* name)
{
    return dir.file(QString::fromLatin1(name)).toStdString();
}

TEST(InputFileTest, ReadsAtOffsetsAndRefusesToReadPastTheEnd)
{
    TempDir dir;
    dir.write(QStringLiteral("image"), "0123456789");
    InputFile file(nativePath(dir, "image"));
    ASSERT_TRUE(file.isOpen());
    char four[4] = {};
    ASSERT_TRUE(file.readAt(6, four, 4));
    EXPECT_EQ(std::string(four, 4), "6789");
    EXPECT_FALSE(file.readAt(8, four, 4)); // the file ends two bytes in
    // readAt leaves the file position alone.
    char all[16] = {};
    EXPECT_EQ(file.readSome(all, sizeof all), 10);
    EXPECT_EQ(file.readSome(all, sizeof all), 0);

    EXPECT_FALSE(InputFile(nativePath(dir, "missing")).isOpen());
}

TEST(FileStampTest, TellsARewrittenFileOfTheSameSizeFromTheOldOne)
{
    TempDir dir;
    EXPECT_FALSE(FileStamp::of(nativePath(dir, "system.img")));
    dir.write(QStringLiteral("system.img"), "first");
    const auto before = FileStamp::of(nativePath(dir, "system.img"));
    ASSERT_TRUE(before);
    EXPECT_EQ(before->size, 5u);
    EXPECT_EQ(FileStamp::of(nativePath(dir, "system.img")), before);

    // Replaced by another file: a new inode even within one clock tick.
    dir.write(QStringLiteral("next.img"), "other");
    ASSERT_EQ(std::rename(nativePath(dir, "next.img").c_str(), nativePath(dir, "system.img").c_str()), 0);
    const auto after = FileStamp::of(nativePath(dir, "system.img"));
    ASSERT_TRUE(after);
    EXPECT_EQ(after->size, 5u);
    EXPECT_NE(after, before);
}

} // namespace

// Which files a flash plan may send: regular files inside the package folder,
// symlinks followed.
#include "FlashPlan.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <sys/stat.h>

using fastboot::FlashPlan;
namespace fs = std::filesystem;

namespace {

class FlashPlanTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        package = fs::path(dir.path().toStdString()) / "pkg";
        fs::create_directories(package / "images");
        dir.write("pkg/images/system-v2.img", QByteArray(4096, 's'));
        dir.write("secret", "password");
    }
    bool load(std::string* why)
    {
        FlashPlan plan;
        const bool ok = FlashPlan::load(package.string(), &plan, why);
        if (ok)
            entries = plan.entries;
        return ok;
    }
    void plan(const QByteArray& text) { dir.write("pkg/flash-plan.txt", text); }

    TempDir dir;
    fs::path package;
    std::vector<FlashPlan::Entry> entries;
};

TEST_F(FlashPlanTest, LinksInsideThePackageAreFollowed)
{
    fs::create_symlink("images/system-v2.img", package / "system.img");
    std::string why;
    ASSERT_TRUE(load(&why)) << why;
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].path, fs::canonical(package / "images/system-v2.img").string());
    EXPECT_EQ(entries[0].size, 4096u);

    // The package folder itself may be reached through a link.
    const fs::path current = package.parent_path() / "current";
    fs::create_directory_symlink(package, current);
    package = current;
    ASSERT_TRUE(load(&why)) << why;
}

TEST_F(FlashPlanTest, LinksOutOfThePackageAndOddFilesAreRefusedByName)
{
    fs::create_symlink(package.parent_path() / "secret", package / "boot.img");
    std::string why;
    EXPECT_FALSE(load(&why));
    EXPECT_NE(why.find("boot.img"), std::string::npos) << why;
    EXPECT_NE(why.find("outside the package"), std::string::npos) << why;

    fs::remove(package / "boot.img");
    fs::create_directory_symlink("/", package / "root");
    plan("system root/etc/passwd\n");
    EXPECT_FALSE(load(&why));
    EXPECT_NE(why.find("root/etc/passwd"), std::string::npos) << why;

    plan("system ../pkg/images/../../secret\n"); // no way up, spelled or not
    EXPECT_FALSE(load(&why));

    ASSERT_EQ(::mkfifo((package / "vendor.img").c_str(), 0600), 0);
    plan("vendor vendor.img\n");
    EXPECT_FALSE(load(&why));
    EXPECT_NE(why.find("vendor.img"), std::string::npos) << why;
    EXPECT_NE(why.find("not a regular file"), std::string::npos) << why;

    // Without a plan a FIFO named like a known image is refused, not skipped.
    fs::remove(package / "flash-plan.txt");
    fs::create_symlink("images/system-v2.img", package / "system.img");
    EXPECT_FALSE(load(&why));
    EXPECT_NE(why.find("vendor.img"), std::string::npos) << why;
    fs::remove(package / "vendor.img");

    fs::create_symlink("/dev/zero", package / "odm.img"); // a device, outside too
    EXPECT_FALSE(load(&why));
    EXPECT_NE(why.find("odm.img"), std::string::npos) << why;
    fs::remove(package / "odm.img");

    fs::create_symlink("nowhere.img", package / "dtbo.img"); // dangling
    EXPECT_FALSE(load(&why));
    EXPECT_NE(why.find("dtbo.img"), std::string::npos) << why;
    fs::remove(package / "dtbo.img");

    fs::create_symlink(package.parent_path() / "secret", package / "flash-plan.txt"); // the plan itself
    EXPECT_FALSE(load(&why));
    EXPECT_NE(why.find("flash-plan.txt"), std::string::npos) << why;
}

} // namespace

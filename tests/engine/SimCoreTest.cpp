#include "DeviceFile.h"
#include "IniText.h"
#include "PackageVersions.h"
#include "SimConfig.h"

#include "support/TempDir.h"

#include <QDir>

#include <gtest/gtest.h>

namespace {

std::string str(const QString& s)
{
    return s.toStdString();
}

TEST(IniTextTest, NamesIgnoreCaseValuesAreTrimmedFirstKeyWins)
{
    const auto ini = sim::IniText::parse("\xEF\xBB\xBF; comment\r\n"
                                         "[get_dll_setting]\r\n"
                                         "  Item_VersionFile_Path =  /opt/pkg v1  \r\n"
                                         "ITEM_VERSIONFILE_PATH=/second\r\n"
                                         "# another comment\n"
                                         "noequals\n"
                                         "[ SIM_Engine ]\n"
                                         "BUS_DIR=\n");
    EXPECT_EQ(ini.value("GET_DLL_Setting", "ITEM_VERSIONFILE_PATH"), "/opt/pkg v1");
    EXPECT_TRUE(ini.contains("sim_engine", "bus_dir"));
    EXPECT_EQ(ini.value("SIM_Engine", "BUS_DIR", "x"), "");
    EXPECT_EQ(ini.value("SIM_Engine", "missing", "fallback"), "fallback");
    EXPECT_FALSE(ini.contains("GET_DLL_Setting", "noequals"));
    EXPECT_FALSE(sim::IniText::load("/nonexistent/config.ini").contains("a", "b"));
}

TEST(SimConfigTest, BusFolderDefaultsBesideTheLibraryAndFollowsBusDir)
{
    TempDir station;
    const std::string dir = str(station.path());
    sim::SimConfig config(dir);
    EXPECT_EQ(config.busDir(), dir + "simbus");
    EXPECT_EQ(config.versionDir(), "");
    station.write("config.ini", "[SIM_Engine]\nBUS_DIR=bus/../devices\n"
                                "[GET_DLL_Setting]\nITEM_VERSIONFILE_PATH=/pkg\n");
    EXPECT_EQ(config.busDir(), dir + "devices");
    EXPECT_EQ(config.versionDir(), "/pkg");
    station.write("config.ini", "[SIM_Engine]\nBUS_DIR=/abs/bus\n");
    EXPECT_EQ(config.busDir(), "/abs/bus");
}

class PackageVersionsTest : public ::testing::Test
{
protected:
    bool read(const QByteArray& image, size_t block = 64 * 1024)
    {
        dir.write("system.img", image);
        display.clear();
        internal.clear();
        return sim::PackageVersions::read(str(dir.file("system.img")), &display, &internal, block);
    }
    TempDir dir;
    std::string display;
    std::string internal;
};

TEST_F(PackageVersionsTest, FindsBothLinesWhereverTheBlocksEnd)
{
    const QByteArray image = QByteArray(3000, '\0') + "\nro.build.sw_internal_version=ABC_INT_V2.0\r\n"
                             + QByteArray(777, 'x') + "\nro.build.display.id=ABC_V2.0\n" + QByteArray(50, 'y');
    for (const size_t block : {1, 2, 7, 64, 1000, 4096, 65536}) {
        ASSERT_TRUE(read(image, block)) << block;
        EXPECT_EQ(display, "ABC_V2.0") << block;
        EXPECT_EQ(internal, "ABC_INT_V2.0") << block; // carriage return dropped
    }
}

TEST_F(PackageVersionsTest, KeysCountOnlyRightAfterALineFeed)
{
    // At the very start, or inside a line, the text is no property line.
    EXPECT_FALSE(read("ro.build.display.id=A\nro.build.sw_internal_version=B\n"));
    EXPECT_FALSE(read("\nxro.build.display.id=A\nro.build.sw_internal_version=B\n"));
    EXPECT_TRUE(read("\n\nro.build.display.id=A\nro.build.sw_internal_version=B"));
    EXPECT_EQ(internal, "B"); // the last line ends at the end of the file
    EXPECT_FALSE(read("\nro.build.display.id=A\n"));
    EXPECT_TRUE(read("\nro.build.display.id=A\nro.build.display.id=Z\nro.build.sw_internal_version=\n"));
    EXPECT_EQ(display, "A");
    EXPECT_EQ(internal, "");
    EXPECT_FALSE(read("\nro.build.display.id=" + QByteArray(5000, 'v') + "\nro.build.sw_internal_version=B\n"));
    EXPECT_FALSE(sim::PackageVersions::read("/nonexistent/system.img", &display, &internal));
}

TEST(DeviceFileTest, WritesReadBackWithoutLeavingTemporaryFiles)
{
    TempDir bus;
    const sim::DeviceFile device(str(bus.path()), 12);
    EXPECT_FALSE(device.read().has_value());
    sim::DeviceFile::State s;
    s.display = "ABC_V1.0";
    s.internal = "ABC_INT_V1.0";
    s.imei = "35693803564380,9";
    s.speed = 1000;
    s.failAt = 0;
    s.resultCode = -7;
    ASSERT_TRUE(device.write(s));
    auto back = device.read();
    ASSERT_TRUE(back.has_value());
    EXPECT_FALSE(back->arm);
    EXPECT_EQ(back->display, s.display);
    EXPECT_EQ(back->internal, s.internal);
    EXPECT_EQ(back->imei, s.imei);
    EXPECT_EQ(back->speed, 1000);
    EXPECT_EQ(back->failAt, 0);
    EXPECT_EQ(back->resultCode, -7);
    EXPECT_EQ(QDir(bus.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"port-12.ini"});
    ASSERT_TRUE(device.remove());
    EXPECT_FALSE(device.exists());
    EXPECT_FALSE(device.remove());
}

TEST(DeviceFileTest, ModeOtherThanReadyIsArmAndOptionalKeysDefault)
{
    TempDir bus;
    bus.write("port-3.ini", "[device]\nmode=ready\n");
    bus.write("port-4.ini", "[Device]\nMode=BOOT\nFailAt=x\n");
    const auto ready = sim::DeviceFile(str(bus.path()), 3).read();
    const auto odd = sim::DeviceFile(str(bus.path()), 4).read();
    ASSERT_TRUE(ready && odd);
    EXPECT_FALSE(ready->arm);
    EXPECT_EQ(ready->failAt, -1);
    EXPECT_EQ(ready->speed, 0);
    EXPECT_TRUE(odd->arm);
    EXPECT_EQ(odd->failAt, -1);
}

TEST(DeviceFileTest, OnlyPortFilesAreDevices)
{
    int port = 0;
    EXPECT_TRUE(sim::DeviceFile::isDeviceFileName("port-12.ini", &port));
    EXPECT_EQ(port, 12);
    for (const char* name : {"port-0.ini", "port-012.ini", "port-.ini", "port-1x.ini", ".port-12.ini.AbC123",
                             "port-12.ini.tmp", "port-12.data", "port-99999999999.ini", "Port-1.ini"})
        EXPECT_FALSE(sim::DeviceFile::isDeviceFileName(name)) << name;

    TempDir bus;
    for (const char* name : {"port-12.ini", "port-3.ini", ".port-5.ini.XYZ", "notes.txt"})
        bus.write(name, "[Device]\n");
    QDir(bus.path()).mkpath("port-7.ini"); // a folder is no device
    EXPECT_EQ(sim::DeviceFile::ports(str(bus.path())), (std::vector<int>{3, 12}));
    EXPECT_TRUE(sim::DeviceFile::ports("/nonexistent/bus").empty());
}

} // namespace

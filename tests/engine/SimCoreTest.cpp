#include "DeviceFile.h"
#include "DownloadJob.h"
#include "SimConfig.h"

#include "support/TempDir.h"

#include <QDir>

#include <gtest/gtest.h>

namespace {

std::string str(const QString& s)
{
    return s.toStdString();
}

TEST(SimConfigTest, ReadsSettingsByTheToolsRules)
{
    // The shared reader: a value the tool wrote in quotes reads back whole,
    // the first section and key of a name win.
    TempDir station;
    sim::SimConfig config(str(station.path()));
    station.write("config.ini", "\xEF\xBB\xBF[get_dll_setting]\r\n"
                                "  Item_VersionFile_Path = \" /opt/pkg v1 \"\r\n"
                                "ITEM_VERSIONFILE_PATH=/second\r\n"
                                "[GET_DLL_Setting]\nITEM_VERSIONFILE_PATH=/third\n");
    EXPECT_EQ(config.versionDir(), " /opt/pkg v1 ");
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

TEST(DownloadJobTest, TakesThePackageVersionsByTheToolsRules)
{
    // The last occurrence wins and a carriage return stays, as in the tool;
    // the device file then trims the carriage return like any INI value.
    TempDir bus;
    TempDir package;
    package.write("system.img", QByteArray(2000, '\0') + "\nro.build.display.id=ABC_V1.0\n"
                                    + "\nro.build.display.id=ABC_V2.0\r\n"
                                    + "\nro.build.sw_internal_version=ABC_INT_V2.0\n");
    bus.write("port-4.ini", "[Device]\nMode=READY\nIMEI=1\n");
    std::vector<std::string> texts;
    sim::DownloadJob::Events events;
    events.progress = [](int32_t) {};
    events.message = [&](const std::string& text) { texts.push_back(text); };
    sim::DownloadJob job(str(bus.path()), str(package.path()), 4, events);
    ASSERT_EQ(job.run(), sim::DownloadJob::Success);
    const auto device = sim::DeviceFile(str(bus.path()), 4).read();
    ASSERT_TRUE(device.has_value());
    EXPECT_EQ(device->display, "ABC_V2.0");
    EXPECT_EQ(device->internal, "ABC_INT_V2.0");

    package.write("system.img", "ro.build.display.id=A\nro.build.sw_internal_version=B\n");
    sim::DownloadJob refused(str(bus.path()), str(package.path()), 4, events);
    EXPECT_EQ(refused.run(), sim::DownloadJob::NoPackage);
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

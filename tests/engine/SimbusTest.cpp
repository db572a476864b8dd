#include "engine/EngineStation.h"

#include "FlashEngine.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

namespace {

struct Outcome {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Outcome runSimbus(const QString& program, const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    Outcome r;
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit)
        return r;
    r.exitCode = p.exitCode();
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

// simbus copied into tools/ of the station with the engine library, so that
// both take the bus from the same config.ini.
class SimbusTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QDir().mkpath(station.stationDir() + QStringLiteral("tools")));
        ASSERT_TRUE(QFile::copy(QStringLiteral(STATION_BUILD_STATION_DIR "/tools/simbus"), simbus));
        ASSERT_TRUE(station.load());
    }
    Outcome run(const QStringList& args) const { return runSimbus(simbus, args); }

    EngineStation station;
    QString simbus = station.stationDir() + QStringLiteral("tools/simbus");
};

TEST_F(SimbusTest, PlugArmReadyAndUnplugAreWhatTheEngineReads)
{
    ASSERT_EQ(run({"plug", "12", "--imei", "356938035643809", "--display", "ABC_V1.0", "--internal",
                   "ABC_INT_V1.0", "--speed", "1000000", "--fail-at", "50"})
                  .exitCode,
              0);
    std::string text;
    EXPECT_EQ(station.query(12, &text), 0);
    EXPECT_EQ(text, "ABC_V1.0,ABC_INT_V1.0,356938035643809");

    ASSERT_EQ(run({"arm", "12"}).exitCode, 0);
    EXPECT_EQ(station.query(12), 1);
    const Outcome listed = run({"list"});
    EXPECT_EQ(listed.exitCode, 0);
    EXPECT_EQ(listed.out, "12\tARM\tABC_V1.0\tABC_INT_V1.0\t356938035643809\n");
    ASSERT_EQ(run({"ready", "12"}).exitCode, 0);
    EXPECT_EQ(station.query(12), 0);
    EXPECT_TRUE(QFile(station.busFile("port-12.ini")).open(QIODevice::ReadOnly));

    ASSERT_EQ(run({"unplug", "12"}).exitCode, 0);
    EXPECT_EQ(station.query(12), -1);
    // Every file was replaced whole: no temporary file is left over.
    EXPECT_TRUE(QDir(station.busDir()).entryList(QDir::Files | QDir::Hidden).isEmpty());
}

TEST_F(SimbusTest, RefusesWhatItCannotDo)
{
    EXPECT_EQ(run({"unplug", "4"}).exitCode, 1);
    EXPECT_EQ(run({"arm", "4"}).exitCode, 1);
    EXPECT_EQ(run({}).exitCode, 2);
    EXPECT_EQ(run({"plug"}).exitCode, 2);
    EXPECT_EQ(run({"plug", "0"}).exitCode, 2);
    EXPECT_EQ(run({"plug", "x1"}).exitCode, 2);
    EXPECT_EQ(run({"plug", "4", "--fail-at", "101"}).exitCode, 2);
    EXPECT_EQ(run({"plug", "4", "--speed", "0"}).exitCode, 2);
    EXPECT_EQ(run({"plug", "4", "--colour", "red"}).exitCode, 2);
    EXPECT_EQ(run({"plug", "4", "--imei", "1\n2"}).exitCode, 2);
    EXPECT_EQ(run({"unplug", "4", "--imei", "1"}).exitCode, 2);
    EXPECT_EQ(station.query(4), -1);
}

TEST(SimbusBusTest, BusDefaultsToTheStationsAndBusOptionOverrides)
{
    TempDir home;
    TempDir other;
    const QString built = QStringLiteral(STATION_BUILD_STATION_DIR "/tools/simbus");
    const QString simbus = home.file("tools/simbus");
    ASSERT_TRUE(QDir().mkpath(home.file("tools")));
    ASSERT_TRUE(QFile::copy(built, simbus));
    EXPECT_EQ(runSimbus(simbus, {"plug", "5", "--display", "A"}).exitCode, 0);
    EXPECT_TRUE(home.read("simbus/port-5.ini").contains("DisplayVersion=A\n"));
    EXPECT_EQ(runSimbus(simbus, {"--bus", other.path(), "plug", "6"}).exitCode, 0);
    EXPECT_TRUE(other.exists("port-6.ini"));
    EXPECT_FALSE(home.exists("simbus/port-6.ini"));
    EXPECT_EQ(runSimbus(simbus, {"list", "--bus", other.path()}).out, "6\tREADY\t\t\t\n");

    // Outside tools/, the folder that holds simbus is the station folder.
    ASSERT_TRUE(QFile::copy(built, other.file("bus-tool")));
    EXPECT_EQ(runSimbus(other.file("bus-tool"), {"plug", "7"}).exitCode, 0);
    EXPECT_TRUE(other.exists("simbus/port-7.ini"));
}

} // namespace

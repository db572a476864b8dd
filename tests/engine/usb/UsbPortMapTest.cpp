// The USB keys of [FASTBOOT_Engine]: socket bindings, learning new sockets
// into config.ini, and the boot-ROM id list.
#include "FastbootUsb.h"
#include "UsbIds.h"
#include "UsbPortMap.h"

#include "core/IniText.h"

#include "support/TempDir.h"

#include <QFile>

#include <thread>

#include <gtest/gtest.h>

using usb::parseUsbIds;
using usb::UsbId;
using usb::UsbLocation;
using usb::UsbPortMap;

namespace {

UsbLocation at(const char* text)
{
    return *UsbLocation::parse(text);
}

class UsbPortMapTest : public ::testing::Test
{
protected:
    std::string path() const { return m_dir.file(QStringLiteral("config.ini")).toStdString(); }
    void write(const QByteArray& text) const { m_dir.write(QStringLiteral("config.ini"), text); }
    QByteArray read() const { return m_dir.read(QStringLiteral("config.ini")); }

    TempDir m_dir;
};

} // namespace

TEST(UsbIds, ParsesHexPairs)
{
    const auto ids = parseUsbIds(" 05c6:9008 , 0x0E8D:0x0003,,1f3a:efe8 ");
    ASSERT_TRUE(ids);
    EXPECT_EQ(*ids, (std::vector<UsbId>{{0x05c6, 0x9008}, {0x0e8d, 0x0003}, {0x1f3a, 0xefe8}}));
    EXPECT_EQ(parseUsbIds("")->size(), 0u);
    std::string bad;
    for (const char* text : {"05c6", "05c6:", ":9008", "05c6:90081", "05c6-9008", "zz:10", "05c6:9008,nope"}) {
        EXPECT_FALSE(parseUsbIds(text, &bad)) << text;
        EXPECT_FALSE(bad.empty());
    }
    EXPECT_TRUE(parseUsbIds(fastboot::kDefaultBootRomIds));
}

TEST_F(UsbPortMapTest, ReadsBindingsAndSettings)
{
    write("[FASTBOOT_Engine]\r\nPORT.1=usb:1-1.2\r\nPORT.2=tcp:127.0.0.1:5554\r\nPORT.3=usb:garbage\r\n"
          "PORT.7=\"usb:1-3\"\r\nLEARN_PORTS=0\r\nBOOTROM_IDS=1234:abcd\r\n");
    UsbPortMap map(fastboot::usbPortSettings(path()), "/nonexistent");
    EXPECT_EQ(map.ports(), (std::vector<int>{1, 7}));
    EXPECT_EQ(map.socketOf(1), at("1-1.2"));
    EXPECT_EQ(map.portOf(at("1-3")), 7);
    EXPECT_EQ(map.portOf(at("1-4")), 0);
    EXPECT_FALSE(map.learning());
    EXPECT_EQ(map.bootRomIds(), (std::vector<UsbId>{{0x1234, 0xabcd}}));

    // A bad list keeps the default one and says so.
    write("[FASTBOOT_Engine]\r\nBOOTROM_IDS=1234\r\n");
    std::string warning;
    map.reload(&warning);
    EXPECT_NE(warning.find("1234"), std::string::npos);
    EXPECT_EQ(map.bootRomIds(), *parseUsbIds(fastboot::kDefaultBootRomIds));
    EXPECT_TRUE(map.learning()); // the default
    EXPECT_TRUE(map.ports().empty());
}

TEST_F(UsbPortMapTest, LearnsTheLowestFreeNumberAndKeepsTheRestOfTheFile)
{
    const QByteArray before = "; station file\r\n[DLOption]\r\nLANG=ENG\r\n[FASTBOOT_Engine]\r\n"
                              "PORT.1=usb:1-1.1\r\nPORT.2=tcp:127.0.0.1:5554\r\nPORT.4=\r\nREBOOT=1\r\n"
                              "[GET_DLL_Setting]\r\nPORTS=1,2,0,0,0,0,0,0\r\n";
    write(before);
    UsbPortMap map(fastboot::usbPortSettings(path()), "/nonexistent");
    std::string error;
    // 2 has a TCP device and 4 an empty key: both are taken.
    EXPECT_EQ(map.learn(at("1-1.3"), &error), 3);
    EXPECT_EQ(map.learn(at("1-1.5"), &error), 5);
    EXPECT_EQ(map.learn(at("1-1.3"), &error), 3); // known: no new number
    EXPECT_EQ(map.learn(at("1-1.1"), &error), 1);
    const QByteArray after = read();
    EXPECT_TRUE(after.startsWith("; station file\r\n[DLOption]\r\nLANG=ENG\r\n[FASTBOOT_Engine]\r\n"));
    EXPECT_TRUE(after.contains("PORT.3=usb:1-1.3\r\n"));
    EXPECT_TRUE(after.contains("PORT.5=usb:1-1.5\r\n"));
    EXPECT_TRUE(after.endsWith("[GET_DLL_Setting]\r\nPORTS=1,2,0,0,0,0,0,0\r\n"));
    EXPECT_EQ(after.count("PORT.3="), 1);

    // Someone else's write in between is seen before a number is chosen.
    write("[FASTBOOT_Engine]\r\nPORT.1=tcp:127.0.0.1:1\r\n");
    EXPECT_EQ(map.learn(at("1-1.3"), &error), 2);
}

TEST_F(UsbPortMapTest, LearningFailsCleanlyWhenFullOrUnwritable)
{
    QByteArray full = "[FASTBOOT_Engine]\n";
    for (int n = 1; n <= 255; ++n)
        full += "PORT." + QByteArray::number(n) + "=tcp:127.0.0.1:" + QByteArray::number(1000 + n) + "\n";
    write(full);
    UsbPortMap map(fastboot::usbPortSettings(path()), "/nonexistent");
    std::string error;
    EXPECT_EQ(map.learn(at("1-1.3"), &error), 0);
    EXPECT_NE(error.find("PORT.255"), std::string::npos);
    EXPECT_EQ(read(), full);

    UsbPortMap nowhere(fastboot::usbPortSettings(m_dir.file(QStringLiteral("missing/config.ini")).toStdString()),
                        "/nonexistent");
    error.clear();
    EXPECT_EQ(nowhere.learn(at("1-1.3"), &error), 0);
    EXPECT_NE(error.find("cannot write"), std::string::npos);
    EXPECT_EQ(nowhere.portOf(at("1-1.3")), 0);
}

// The engine learns sockets on its watch thread while the window writes its
// own keys (version path, PORTS): both go through the INI write lock, so
// neither loses the other's.
TEST_F(UsbPortMapTest, LearningBesideTheToolsWritesLosesNoKey)
{
    write("[FASTBOOT_Engine]\r\nREBOOT=1\r\n[GET_DLL_Setting]\r\nPORTS=1,2,0,0,0,0,0,0\r\n");
    constexpr int kSockets = 200;
    constexpr int kToolWrites = 1000;
    UsbPortMap map(fastboot::usbPortSettings(path()), "/nonexistent");
    std::thread tool([&] {
        const IniText ini(path());
        for (int i = 0; i < kToolWrites; ++i)
            ini.writeText("GET_DLL_Setting", "KEY." + std::to_string(i), std::to_string(i));
    });
    std::string error;
    for (int n = 1; n <= kSockets; ++n)
        EXPECT_EQ(map.learn(at(("1-" + std::to_string(n)).c_str()), &error), n) << error;
    tool.join();

    UsbPortMap fresh(fastboot::usbPortSettings(path()), "/nonexistent");
    for (int n = 1; n <= kSockets; ++n)
        EXPECT_EQ(fresh.portOf(at(("1-" + std::to_string(n)).c_str())), n);
    const IniText ini(path());
    int missing = 0;
    for (int i = 0; i < kToolWrites; ++i)
        missing += ini.readText("GET_DLL_Setting", "KEY." + std::to_string(i)) != std::to_string(i);
    EXPECT_EQ(missing, 0);
    EXPECT_EQ(ini.readText("GET_DLL_Setting", "PORTS"), "1,2,0,0,0,0,0,0");
    EXPECT_EQ(ini.readText("FASTBOOT_Engine", "REBOOT"), "1");
}

// Socket locations: their text form and the mapping of SuperSpeed ports to
// their USB 2 twins on a sysfs tree laid out in a temporary folder.
#include "UsbLocation.h"

#include "support/TempDir.h"

#include <QFile>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using usb::UsbLocation;
namespace fs = std::filesystem;

TEST(UsbLocation, ParsesAndPrintsPortChains)
{
    for (const char* text : {"1-2", "1-2.3", "3-1.4.2.7", "255-255.1"}) {
        const auto location = UsbLocation::parse(text);
        ASSERT_TRUE(location) << text;
        EXPECT_EQ(location->text(), text);
    }
    const auto location = UsbLocation::parse("1-2.3");
    EXPECT_EQ(location->bus(), 1);
    EXPECT_EQ(location->ports(), (std::vector<int>{2, 3}));
    EXPECT_EQ(location->hubName(), "1-2");
    EXPECT_EQ(location->hubPort(), 3);
    EXPECT_EQ(UsbLocation::parse("2-4")->hubName(), "usb2");
}

TEST(UsbLocation, RefusesWhatIsNoPortChain)
{
    for (const char* text : {"", "1", "1-", "-2", "1-2.", "1-.2", "0-1", "1-0", "01-2", "1-02", "256-1", "1-2.3a",
                             " 1-2", "1-2 ", "1-2:1.0", "usb1", "1-1.1.1.1.1.1.1.1", "+1-2", "1--2"}) {
        EXPECT_FALSE(UsbLocation::parse(text)) << '"' << text << '"';
    }
}

class SysfsTree : public ::testing::Test
{
protected:
    // A hub whose ports (1..3) sit in "<hub>/<interface>/<hub>-port<n>".
    void hub(const std::string& name, const std::string& interface, int speed)
    {
        const fs::path dir = m_root / "devices" / name;
        for (int port = 1; port <= 3; ++port)
            fs::create_directories(dir / interface / (portPrefix(name) + std::to_string(port)));
        std::ofstream(dir / "speed") << speed << "\n";
        fs::create_directories(m_root / "bus/usb/devices");
        fs::create_directory_symlink(fs::path("../../../devices") / name, m_root / "bus/usb/devices" / name);
    }
    static std::string portPrefix(const std::string& hub) { return hub + "-port"; }
    // peer link from a port of one hub to the same port of another
    void peer(const std::string& from, const std::string& fromIf, const std::string& to, const std::string& toIf,
              int port)
    {
        const std::string p = std::to_string(port);
        fs::create_directory_symlink(fs::path("../../..") / to / toIf / (portPrefix(to) + p),
                                     m_root / "devices" / from / fromIf / (portPrefix(from) + p) / "peer");
    }
    std::string root() const { return m_root.string(); }

    TempDir m_dir;
    fs::path m_root = fs::path(m_dir.path().toStdString()) / "sys";
};

TEST_F(SysfsTree, SuperSpeedPortsMapToTheirUsb2Twins)
{
    hub("usb1", "1-0:1.0", 480);
    hub("usb2", "2-0:1.0", 5000);
    hub("1-1", "1-1:1.0", 480);
    hub("2-1", "2-1:1.0", 5000);
    for (int port = 1; port <= 3; ++port) {
        peer("usb2", "2-0:1.0", "usb1", "1-0:1.0", port);
        peer("usb1", "1-0:1.0", "usb2", "2-0:1.0", port);
        peer("2-1", "2-1:1.0", "1-1", "1-1:1.0", port);
        peer("1-1", "1-1:1.0", "2-1", "2-1:1.0", port);
    }
    const auto socket = [&](const char* text) { return UsbLocation::parse(text)->socket(root()).text(); };
    EXPECT_EQ(socket("2-1.3"), "1-1.3");
    EXPECT_EQ(socket("2-2"), "1-2");
    // The USB 2 side is the name kept, though it has a peer too.
    EXPECT_EQ(socket("1-1.3"), "1-1.3");
    EXPECT_EQ(socket("1-3"), "1-3");
}

TEST_F(SysfsTree, PortsWithoutPeerOrSysfsStayAsTheyAre)
{
    hub("usb2", "2-0:1.0", 5000);
    hub("2-1", "2-1:1.0", 5000);
    const auto socket = [&](const char* text, const std::string& at) {
        return UsbLocation::parse(text)->socket(at).text();
    };
    EXPECT_EQ(socket("2-1.3", root()), "2-1.3");        // SuperSpeed-only port
    EXPECT_EQ(socket("2-1.9", root()), "2-1.9");        // no such port folder
    EXPECT_EQ(socket("4-1", root()), "4-1");            // no such hub
    EXPECT_EQ(socket("2-1.3", "/nonexistent"), "2-1.3"); // no sysfs at all
    // A peer link that points nowhere sensible is ignored.
    fs::create_directory_symlink("../../../2-1/2-1:1.0/garbage", m_root / "devices/2-1/2-1:1.0/2-1-port2/peer");
    EXPECT_EQ(socket("2-1.2", root()), "2-1.2");
}

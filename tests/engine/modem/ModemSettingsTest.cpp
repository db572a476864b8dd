// The modem engine's pure logic: its settings, what a port answers as
// modules come and go, and where a module's AT tty is found in sysfs.
#include "ModemSettings.h"
#include "ModulePresence.h"
#include "UsbModemLinks.h"

#include "support/TempDir.h"

#include <QDir>

#include <gtest/gtest.h>

using namespace modem;

namespace {

ModemSettings parse(const std::string& keys)
{
    return ModemSettings::parse("[GET_DLL_Setting]\nITEM_VERSIONFILE_PATH=/pkg/v2\n[MODEM_Engine]\n" + keys);
}

} // namespace

TEST(ModemSettingsTest, DefaultsWithoutKeys)
{
    const ModemSettings s = parse("");
    EXPECT_TRUE(s.ports.empty());
    EXPECT_EQ(s.atInterface, -1);
    EXPECT_EQ(s.displayCommand, "AT+CGMR");
    EXPECT_EQ(s.internalCommand, "AT+CGMR");
    EXPECT_EQ(s.imeiCommand, "AT+CGSN");
    EXPECT_EQ(s.edlIdsText(), "05c6:9008");
    EXPECT_EQ(s.edlSwitch, "");
    EXPECT_EQ(s.arrivalTimeoutS, 60);
    EXPECT_EQ(s.storage, "emmc");
    EXPECT_EQ(s.maxPayload, 1024u * 1024);
    EXPECT_TRUE(s.reset);
    EXPECT_TRUE(s.readback);
    EXPECT_EQ(s.versionDir, "/pkg/v2");
    EXPECT_TRUE(s.problems.empty());
}

TEST(ModemSettingsTest, EveryKeyIsTaken)
{
    const ModemSettings s = parse("PORT.1=usb:1-1.1\nPORT.12=usb:2-3\nAT_INTERFACE=2\n"
                                  "DISPLAY_VERSION=at:AT+GMR\nINTERNAL_VERSION=at:ATI\nIMEI=at:AT+GSN\n"
                                  "EDL_IDS=05c6:9008, 1234:abcd\nEDL_SWITCH=at:AT$QDLOAD\nARRIVAL_TIMEOUT_S=5\n"
                                  "PROGRAMMER=prog_nand.mbn\nRAWPROGRAM=rawprogram1.xml, rawprogram0.xml\n"
                                  "PATCH=patch0.xml\nSTORAGE=ufs\nMAX_PAYLOAD=65536\nRESET=0\nREADBACK=0\n"
                                  "REBOOT_HOLD_S=10\nPROBE_INTERVAL_MS=250\n");
    EXPECT_EQ(s.endpointOf(1), "usb:1-1.1");
    EXPECT_EQ(s.endpointOf(12), "usb:2-3");
    EXPECT_EQ(s.endpointOf(2), "");
    EXPECT_EQ(s.atInterface, 2);
    EXPECT_EQ(s.displayCommand, "AT+GMR");
    EXPECT_EQ(s.internalCommand, "ATI");
    EXPECT_EQ(s.imeiCommand, "AT+GSN");
    EXPECT_EQ(s.edlIdsText(), "05c6:9008,1234:abcd");
    EXPECT_EQ(s.edlSwitch, "AT$QDLOAD");
    EXPECT_EQ(s.arrivalTimeoutS, 5);
    EXPECT_EQ(s.package.programmer, "prog_nand.mbn");
    EXPECT_EQ(s.package.rawprogram, (std::vector<std::string>{"rawprogram1.xml", "rawprogram0.xml"}));
    EXPECT_EQ(s.package.patch, std::vector<std::string>{"patch0.xml"});
    EXPECT_EQ(s.storage, "ufs");
    EXPECT_EQ(s.maxPayload, 65536u);
    EXPECT_FALSE(s.reset);
    EXPECT_FALSE(s.readback);
    EXPECT_EQ(s.rebootHoldS, 10);
    EXPECT_EQ(s.probeIntervalMs, 250);
    EXPECT_EQ(s.flashSettings().storage, "ufs");
    EXPECT_FALSE(s.flashSettings().reset);
    EXPECT_TRUE(s.problems.empty());
}

TEST(ModemSettingsTest, BadValuesKeepTheirDefaultsAndAreNamed)
{
    const ModemSettings s = parse("PORT.3=tcp:host:1\nPORT.4=usb:1-01\nAT_INTERFACE=two\nIMEI=AT+CGSN\nEDL_IDS=9008\n"
                                  "EDL_SWITCH=AT$QDLOAD\nARRIVAL_TIMEOUT_S=0\nSTORAGE=sdcard\nMAX_PAYLOAD=1k\n"
                                  "RESET=2\nREADBACK=yes\nPROBE_INTERVAL_MS=5\n");
    EXPECT_TRUE(s.ports.empty());
    EXPECT_EQ(s.atInterface, -1);
    EXPECT_EQ(s.imeiCommand, "AT+CGSN");
    EXPECT_EQ(s.edlIdsText(), "05c6:9008");
    EXPECT_EQ(s.edlSwitch, "");
    EXPECT_EQ(s.arrivalTimeoutS, 60);
    EXPECT_EQ(s.storage, "emmc");
    EXPECT_EQ(s.maxPayload, 1024u * 1024);
    EXPECT_TRUE(s.reset);
    EXPECT_TRUE(s.readback);
    EXPECT_EQ(s.probeIntervalMs, 1000);
    ASSERT_EQ(s.problems.size(), 12u);
    for (const char* key : {"PORT.3=tcp:host:1", "PORT.4=usb:1-01", "AT_INTERFACE=two", "IMEI=AT+CGSN", "EDL_IDS=9008",
                            "EDL_SWITCH=AT$QDLOAD", "ARRIVAL_TIMEOUT_S=0", "STORAGE=sdcard", "MAX_PAYLOAD=1k",
                            "RESET=2", "READBACK=yes", "PROBE_INTERVAL_MS=5"}) {
        EXPECT_TRUE(std::any_of(s.problems.begin(), s.problems.end(),
                                [&](const std::string& p) { return p.starts_with(key); }))
            << key;
    }
    EXPECT_NE(s.problems.front().find("[MODEM_Engine] of config.ini"), std::string::npos);
}

namespace {

using Kind = ModulePresence::Observation::Kind;
using Clock = ModulePresence::Clock;
constexpr std::chrono::seconds kHold{90};

ModulePresence::Observation module(const std::string& imei, const std::string& revision = "MDM-1.0")
{
    ModulePresence::Observation seen;
    seen.kind = Kind::Module;
    seen.identity.display = revision;
    seen.identity.internal = revision;
    seen.identity.imei = imei;
    return seen;
}

ModulePresence::Observation of(Kind kind, const std::string& why = {})
{
    ModulePresence::Observation seen;
    seen.kind = kind;
    seen.why = why;
    return seen;
}

} // namespace

TEST(ModulePresenceTest, ModulesDownloadModeAndNotReady)
{
    ModulePresence p;
    const auto t = Clock::now();
    EXPECT_EQ(p.answer().status, -1);
    EXPECT_TRUE(p.observe(module("111"), t, kHold));
    EXPECT_EQ(p.answer(), (ModulePresence::Answer{0, "MDM-1.0,MDM-1.0,111", {}}));
    EXPECT_FALSE(p.observe(module("111"), t, kHold));

    // Another module in its place: empty once, then the new one.
    EXPECT_TRUE(p.observe(module("222"), t, kHold));
    bool settled = false;
    EXPECT_EQ(p.answer(&settled).status, -1);
    EXPECT_TRUE(settled);
    EXPECT_EQ(p.answer(&settled).identity, "MDM-1.0,MDM-1.0,222");
    EXPECT_FALSE(settled);

    // A silent tty: not ready, with the reason.
    p.observe(of(Kind::NotReady, "AT silent"), t, kHold);
    EXPECT_EQ(p.answer().status, -1); // the module left first
    EXPECT_EQ(p.answer(), (ModulePresence::Answer{ModulePresence::kNotReady, {}, "AT silent"}));

    // A blank board in download mode: ready with an empty identity.
    p.observe(of(Kind::Download), t, kHold);
    EXPECT_EQ(p.answer(), (ModulePresence::Answer{0, ",,", {}}));
    EXPECT_TRUE(p.occupied());
    p.observe(of(Kind::Empty), t, kHold);
    EXPECT_FALSE(p.occupied());
}

TEST(ModulePresenceTest, AModuleTheEngineSentAwayKeepsItsSocketForTheHold)
{
    ModulePresence p;
    const auto t = Clock::now();
    p.observe(module("111"), t, kHold);
    p.away(t);
    // Gone, in download mode, booting with a silent tty: still the same row.
    EXPECT_FALSE(p.observe(of(Kind::Empty), t + std::chrono::seconds(5), kHold));
    EXPECT_FALSE(p.observe(of(Kind::Download), t + std::chrono::seconds(6), kHold));
    EXPECT_FALSE(p.observe(of(Kind::NotReady, "booting"), t + std::chrono::seconds(7), kHold));
    // Back with its new revision: it keeps the identity it was offered with.
    EXPECT_FALSE(p.observe(module("111", "MDM-2.0"), t + std::chrono::seconds(8), kHold));
    EXPECT_EQ(p.answer().identity, "MDM-1.0,MDM-1.0,111");
    // Home again: a later new module is a new one.
    EXPECT_TRUE(p.observe(module("333"), t + std::chrono::seconds(9), kHold));
    EXPECT_EQ(p.answer().status, -1);

    // Past the hold, an empty socket is empty.
    ModulePresence q;
    q.observe(module("111"), t, kHold);
    q.away(t);
    EXPECT_TRUE(q.observe(of(Kind::Empty), t + kHold, kHold));
    EXPECT_EQ(q.answer().status, -1);
}

TEST(ModulePresenceTest, ABlankBoardWrittenComesBackAsTheSameRow)
{
    ModulePresence p;
    const auto t = Clock::now();
    p.observe(of(Kind::Download), t, kHold);
    p.away(t);
    EXPECT_FALSE(p.observe(module("111", "MDM-2.0"), t + std::chrono::seconds(3), kHold));
    EXPECT_EQ(p.answer(), (ModulePresence::Answer{0, ",,", {}}));
}

TEST(ModemTtyDiscoveryTest, SerialAndAcmTtysInInterfaceOrder)
{
    TempDir sys;
    QDir root(sys.path());
    const auto mk = [&](const QString& path) { ASSERT_TRUE(root.mkpath(path)); };
    // Module at 1-1.3: serial driver ttys on interfaces 0 and 2; another device's interfaces beside it.
    mk("bus/usb/devices/1-1.3:1.0/ttyUSB4/tty/ttyUSB4");
    mk("bus/usb/devices/1-1.3:1.1");
    mk("bus/usb/devices/1-1.3:1.2/ttyUSB6/tty/ttyUSB6");
    mk("bus/usb/devices/1-1.3:1.10/ttyUSB9/tty/ttyUSB9");
    mk("bus/usb/devices/1-1.30:1.0/ttyUSB1/tty/ttyUSB1");
    mk("bus/usb/devices/1-1.3.1:1.0/ttyUSB2/tty/ttyUSB2");
    // A CDC ACM module at 2-4.
    mk("bus/usb/devices/2-4:1.0/tty/ttyACM0");
    mk("bus/usb/devices/2-4:1.1");
    const std::string r = sys.path().toStdString();
    EXPECT_EQ(UsbModemLinks::ttysOfDevice(r, "1-1.3", -1), (std::vector<std::string>{"ttyUSB4", "ttyUSB6", "ttyUSB9"}));
    EXPECT_EQ(UsbModemLinks::ttysOfDevice(r, "1-1.3", 2), std::vector<std::string>{"ttyUSB6"});
    EXPECT_TRUE(UsbModemLinks::ttysOfDevice(r, "1-1.3", 1).empty());
    EXPECT_EQ(UsbModemLinks::ttysOfDevice(r, "2-4", -1), std::vector<std::string>{"ttyACM0"});
    EXPECT_TRUE(UsbModemLinks::ttysOfDevice(r, "3-1", -1).empty());
}

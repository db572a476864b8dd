// What a port answers as units come, go, reboot and change.
#include "PortPresence.h"

#include <gtest/gtest.h>

namespace {

using fastboot::DeviceIdentity;
using fastboot::PortPresence;
using Kind = PortPresence::Observation::Kind;
using namespace std::chrono_literals;

constexpr auto kHold = std::chrono::seconds(90);

PortPresence::Observation unit(const std::string& serial, const std::string& imei, const std::string& display = "V1")
{
    PortPresence::Observation seen;
    seen.kind = Kind::Unit;
    seen.identity.display = display;
    seen.identity.internal = "INT_" + display;
    seen.identity.imei = imei;
    seen.identity.serial = serial;
    return seen;
}

PortPresence::Observation of(Kind kind, std::string why = {})
{
    PortPresence::Observation seen;
    seen.kind = kind;
    seen.why = std::move(why);
    return seen;
}

class PortPresenceTest : public ::testing::Test
{
protected:
    bool see(PortPresence& port, const PortPresence::Observation& seen, std::chrono::seconds after = 0s)
    {
        return port.observe(seen, m_start + after, kHold);
    }
    // The answer, and whether the device event is due again for it.
    int32_t status(PortPresence& port, std::string* identity = nullptr, bool* again = nullptr)
    {
        bool settled = false;
        const auto answer = port.answer(&settled);
        if (identity)
            *identity = answer.identity;
        if (again)
            *again = settled;
        return answer.status;
    }

    PortPresence::Clock::time_point m_start = PortPresence::Clock::now();
};

TEST_F(PortPresenceTest, AUnitIsOfferedAndLeavesOnce)
{
    PortPresence port;
    EXPECT_EQ(status(port), -1);
    EXPECT_TRUE(see(port, unit("S1", "I1")));
    std::string text;
    EXPECT_EQ(status(port, &text), 0);
    EXPECT_EQ(text, "V1,INT_V1,I1");
    EXPECT_FALSE(see(port, unit("S1", "I1")));
    EXPECT_TRUE(see(port, of(Kind::Empty)));
    bool again = true;
    EXPECT_EQ(status(port, nullptr, &again), -1);
    EXPECT_FALSE(again); // empty is what is there: nothing more to say
    EXPECT_FALSE(port.occupied());
}

TEST_F(PortPresenceTest, TheSameUnitKeepsTheIdentityItWasOfferedWith)
{
    PortPresence port;
    see(port, unit("S1", "I1", "OLD"));
    port.rebooted(m_start);
    // Back after its read-back with the new version: the same unit.
    EXPECT_FALSE(see(port, unit("S1", "I1", "NEW"), 10s));
    std::string text;
    EXPECT_EQ(status(port, &text), 0);
    EXPECT_EQ(text, "OLD,INT_OLD,I1");
}

TEST_F(PortPresenceTest, UsbHoldRunsFromTheRebootAndLastsWhileSomethingIsThere)
{
    PortPresence port(PortPresence::HoldFrom::Reboot);
    see(port, unit("S1", "I1"));
    port.rebooted(m_start);
    EXPECT_FALSE(see(port, of(Kind::Empty), 5s));                   // rebooting
    EXPECT_FALSE(see(port, of(Kind::NotFastboot, "no fastboot"), 20s)); // booted into its system
    EXPECT_FALSE(see(port, of(Kind::NotFastboot, "no fastboot"), 500s)); // as long as it is there
    EXPECT_EQ(status(port), 0);
    EXPECT_TRUE(see(port, of(Kind::Empty), 501s)); // pulled, the hold long over
    EXPECT_EQ(status(port), -1);

    PortPresence early(PortPresence::HoldFrom::Reboot);
    see(early, unit("S1", "I1"));
    early.rebooted(m_start);
    EXPECT_FALSE(see(early, of(Kind::Empty), 89s));
    EXPECT_TRUE(see(early, of(Kind::Empty), 90s)); // never came back
    EXPECT_EQ(status(early), -1);
}

TEST_F(PortPresenceTest, TcpHoldRunsFromTheFirstSilence)
{
    PortPresence port(PortPresence::HoldFrom::Silence);
    see(port, unit("S1", "I1"));
    port.rebooted(m_start);
    EXPECT_FALSE(see(port, unit("S1", "I1"), 100s)); // still answering long after
    EXPECT_FALSE(see(port, of(Kind::Empty), 200s));
    EXPECT_FALSE(see(port, of(Kind::Empty), 289s));
    EXPECT_TRUE(see(port, of(Kind::Empty), 290s));
    EXPECT_EQ(status(port), -1);
}

TEST_F(PortPresenceTest, AnotherUnitIsAnsweredEmptyOnceThenOffered)
{
    PortPresence port;
    see(port, unit("S1", "I1"));
    port.rebooted(m_start);
    see(port, of(Kind::Empty), 2s);
    EXPECT_TRUE(see(port, unit("S2", "I2", "V9"), 5s)); // put in during the hold
    bool again = false;
    EXPECT_EQ(status(port, nullptr, &again), -1);
    EXPECT_TRUE(again);
    std::string text;
    EXPECT_EQ(status(port, &text, &again), 0);
    EXPECT_FALSE(again);
    EXPECT_EQ(text, "V9,INT_V9,I2");
    // Only the IMEI or only the serial the same: another unit still.
    EXPECT_TRUE(see(port, unit("S2", "I3"), 6s));
    EXPECT_EQ(status(port), -1);
    EXPECT_TRUE(see(port, unit("S3", "I3"), 7s));
    EXPECT_EQ(status(port), -1);
}

TEST_F(PortPresenceTest, AUnitThatWasNotRebootedAndLeavesFastbootIsNotReady)
{
    PortPresence port;
    // Plugged in while running its system: present, not ready, and why.
    EXPECT_TRUE(see(port, of(Kind::NotFastboot, "not in fastboot mode")));
    const auto answer = port.answer();
    EXPECT_EQ(answer.status, PortPresence::kNotFastboot);
    EXPECT_EQ(answer.message, "not in fastboot mode");
    EXPECT_TRUE(port.occupied());
    // Rebooted to the bootloader by hand: offered.
    EXPECT_TRUE(see(port, unit("S1", "I1")));
    EXPECT_EQ(status(port), 0);
    // Back to its system without the engine: the unit left the line, which
    // hears so before the not-ready state.
    EXPECT_TRUE(see(port, of(Kind::NotFastboot, "not in fastboot mode")));
    EXPECT_EQ(status(port), -1);
    EXPECT_EQ(status(port), PortPresence::kNotFastboot);
    EXPECT_TRUE(see(port, of(Kind::BootRom)));
    EXPECT_EQ(status(port), PortPresence::kBootRom);
}

TEST_F(PortPresenceTest, AFlappingSocketNeverShowsAnotherUnitAsTheOfferedOne)
{
    PortPresence port;
    for (int i = 0; i < 20; ++i) {
        see(port, unit("S" + std::to_string(i % 2), "I"));
        std::string text;
        const int32_t s = status(port, &text);
        EXPECT_TRUE(s == -1 || (s == 0 && text == "V1,INT_V1,I")) << i;
        if (i > 0)
            EXPECT_EQ(s, -1) << i; // each swap is a unit leaving first
        status(port);
    }
    // A unit with neither serial nor IMEI is told by what it shows.
    PortPresence bare;
    see(bare, unit("", "", "A"));
    EXPECT_EQ(status(bare), 0);
    EXPECT_FALSE(see(bare, unit("", "", "A")));
    EXPECT_TRUE(see(bare, unit("", "", "B")));
    EXPECT_EQ(status(bare), -1);
}

} // namespace

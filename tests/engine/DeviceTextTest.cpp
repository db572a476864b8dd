// What the engine makes of the texts a device sends before they reach the tool.
#include "DeviceIdentity.h"
#include "DeviceText.h"
#include "FastbootReply.h"

#include <gtest/gtest.h>

using namespace fastboot;

namespace {

TEST(DeviceTextTest, ControlCharactersAndBrokenUtf8AreReplaced)
{
    EXPECT_EQ(DeviceText::clean("ABC_V1.0"), "ABC_V1.0");
    EXPECT_EQ(DeviceText::clean("\x1b[2Jgone"), "?[2Jgone");
    EXPECT_EQ(DeviceText::clean(std::string("a\0b\x7f", 4)), "a?b?");
    EXPECT_EQ(DeviceText::clean("line\r\n\tnext"), "line   next"); // layout becomes spaces
    EXPECT_EQ(DeviceText::clean("\xc2\x9b" "31m"), "?31m");           // C1 CSI in UTF-8
    EXPECT_EQ(DeviceText::clean("\x9b" "31m"), "?31m");               // and as a raw byte
    EXPECT_EQ(DeviceText::clean("版本 \xc3\xa9"), "版本 \xc3\xa9");       // valid UTF-8 stays
    EXPECT_EQ(DeviceText::clean("\xc0\xaf\xed\xa0\x80\xe4\xbd"), "???????"); // overlong, surrogate, cut short
}

TEST(DeviceTextTest, IdentityFieldsNeverCarryTheToolsSeparator)
{
    DeviceIdentity identity{"ABC_V1.0,B2", "INT_V1", "356938035643809"};
    EXPECT_EQ(identity.joined(), "ABC_V1.0;B2,INT_V1,356938035643809");
    identity = {"\x1b]0;title\x07", "", "35,69"};
    EXPECT_EQ(identity.joined(), "?]0;title?,,35;69");
}

TEST(DeviceTextTest, EveryReplyTextIsCleaned)
{
    const auto parse = [](const std::string& s) { return FastbootReply::parse(s.data(), s.size()); };
    for (const char* kind : {"OKAY", "FAIL", "INFO", "TEXT"})
        EXPECT_EQ(parse(std::string(kind) + "\x1b[2Jx\n").text, "?[2Jx ") << kind;
    EXPECT_EQ(parse("DATA0000abCD").dataSize, 0xabcdu);
}

} // namespace

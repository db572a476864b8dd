// AT replies as modules send them, and the AT port's limits: a silent tty, a
// flood, leftovers of an earlier command.
#include "AtPort.h"
#include "AtReply.h"
#include "ModelLink.h"
#include "ModuleModel.h"
#include "ScriptedLink.h"

#include <gtest/gtest.h>

using namespace modem;

namespace {

AtReply parse(const char* command, const std::string& raw)
{
    return AtReply::parse(command, raw);
}

} // namespace

TEST(AtReplyTest, ValueWithAndWithoutEcho)
{
    EXPECT_EQ(parse("AT+CGSN", "\r\n356938035643809\r\n\r\nOK\r\n").value, "356938035643809");
    EXPECT_EQ(parse("AT+CGSN", "AT+CGSN\r\r\n356938035643809\r\n\r\nOK\r\n").value, "356938035643809");
    // An echo in other case still is the echo.
    EXPECT_EQ(parse("AT+CGMR", "at+cgmr\r\r\nREV 1.2  \r\nOK\r\n").value, "REV 1.2");
    EXPECT_EQ(parse("AT+CGSN", "AT+CGSN\r\nOK\r\n").kind, AtReply::Kind::Ok);
    EXPECT_EQ(parse("AT+CGSN", "AT+CGSN\r\nOK\r\n").value, "");
}

TEST(AtReplyTest, PrefixAndQuotesComeOff)
{
    EXPECT_EQ(parse("AT+CGSN", "\r\n+CGSN: \"356938035643809\"\r\n\r\nOK\r\n").value, "356938035643809");
    EXPECT_EQ(parse("AT+CGSN", "\r\n+CGSN: 356938035643809\r\nOK\r\n").value, "356938035643809");
    EXPECT_EQ(parse("AT+CGMR", "\r\n+CGMR:  MDM_1.0.3 \r\nOK\r\n").value, "MDM_1.0.3");
    // Only a leading "+NAME:" is a prefix; a '+' inside a value stays.
    EXPECT_EQ(AtReply::valueOf("Revision: A+B"), "Revision: A+B");
    EXPECT_EQ(AtReply::valueOf("+ 12"), "+ 12");
    EXPECT_EQ(AtReply::valueOf("\"unbalanced"), "\"unbalanced");
}

TEST(AtReplyTest, ErrorsGiveAnEmptyField)
{
    for (const char* raw : {"\r\nERROR\r\n", "AT+CGSN\r\r\nERROR\r\n", "\r\n+CME ERROR: 10\r\n",
                            "\r\nsomething\r\n+CMS ERROR: 500\r\n"}) {
        const AtReply reply = parse("AT+CGSN", raw);
        EXPECT_EQ(reply.kind, AtReply::Kind::Error) << raw;
        EXPECT_EQ(reply.value, "") << raw;
    }
}

TEST(AtReplyTest, IncompleteUntilTheFinalLineEnds)
{
    EXPECT_EQ(parse("AT+CGSN", "").kind, AtReply::Kind::Incomplete);
    EXPECT_EQ(parse("AT+CGSN", "\r\n3569380").kind, AtReply::Kind::Incomplete);
    EXPECT_EQ(parse("AT+CGSN", "\r\n356938035643809\r\n\r\nOK").kind, AtReply::Kind::Incomplete);
    // A value that merely starts with OK is no final line.
    const AtReply reply = parse("AT+CGMR", "\r\nOKAPI-7\r\nOK\r\n");
    EXPECT_EQ(reply.kind, AtReply::Kind::Ok);
    EXPECT_EQ(reply.value, "OKAPI-7");
}

TEST(AtPortTest, RepliesInPiecesAndLeftoversDropped)
{
    ScriptedLink tty;
    tty.queue("\r\nstale line from before\r\n");
    AtPort port(tty);
    // The stale packet is drained before the command goes out.
    AtResult result = port.command("AT+CGSN", Clock::now());
    EXPECT_EQ(result.status, AtResult::Status::Silent);
    ASSERT_EQ(tty.sent.size(), 1u);
    EXPECT_EQ(tty.sent[0], "AT+CGSN\r");

    // A reply that arrives in pieces, only after the command went out.
    struct Late final : PacketLink {
        std::vector<std::string> pieces{"AT+CG", "SN\r\r\n+CGSN: \"35", "6938035643809\"\r\n\r\nO", "K\r\n"};
        size_t next = 0;
        bool sent = false;
        IoStatus send(const void*, size_t, Clock::time_point) override { sent = true; return IoStatus::Ok; }
        IoStatus receive(void* buffer, size_t capacity, size_t* size, Clock::time_point) override
        {
            if (!sent || next == pieces.size())
                return IoStatus::Timeout;
            const std::string& piece = pieces[next++];
            if (piece.size() > capacity)
                return IoStatus::TooLarge;
            std::copy(piece.begin(), piece.end(), static_cast<char*>(buffer));
            *size = piece.size();
            return IoStatus::Ok;
        }
        size_t maxPacketSize() const override { return 0; }
        std::string lastError() const override { return {}; }
    } late;
    AtPort third(late);
    result = third.command("AT+CGSN", Clock::now());
    EXPECT_EQ(result.status, AtResult::Status::Ok);
    EXPECT_EQ(result.value, "356938035643809");
}

TEST(AtPortTest, FloodIsBounded)
{
    struct Flood final : PacketLink {
        bool sent = false;
        size_t given = 0;
        IoStatus send(const void*, size_t, Clock::time_point) override { sent = true; return IoStatus::Ok; }
        IoStatus receive(void* buffer, size_t capacity, size_t* size, Clock::time_point) override
        {
            if (!sent)
                return IoStatus::Timeout;
            std::fill_n(static_cast<char*>(buffer), capacity, 'x');
            *size = capacity;
            given += capacity;
            return IoStatus::Ok;
        }
        size_t maxPacketSize() const override { return 0; }
        std::string lastError() const override { return {}; }
    } flood;
    AtPort port(flood, 4096);
    const AtResult result = port.command("AT+CGMR", Clock::now() + std::chrono::seconds(5));
    EXPECT_EQ(result.status, AtResult::Status::Flood);
    EXPECT_LE(flood.given, 4096u + 512u);
    EXPECT_NE(result.text.find("AT+CGMR"), std::string::npos);
}

TEST(AtPortTest, EmulatedModuleAnswers)
{
    for (const bool echo : {false, true}) {
        for (const bool quoted : {false, true}) {
            modemdevice::ModuleSettings settings;
            settings.imei = "356938035643809";
            settings.revision = "MDM-2.0.1";
            settings.echo = echo;
            settings.quoted = quoted;
            modemdevice::ModuleModel model(settings);
            modemdevice::ModelLink tty(model, 0);
            AtPort port(tty);
            const auto deadline = Clock::now() + std::chrono::seconds(1);
            EXPECT_EQ(port.command("AT", deadline).status, AtResult::Status::Ok);
            AtResult imei = port.command("AT+CGSN", deadline);
            EXPECT_EQ(imei.status, AtResult::Status::Ok);
            EXPECT_EQ(imei.value, "356938035643809") << echo << quoted;
            EXPECT_EQ(port.command("AT+CGMR", deadline).value, "MDM-2.0.1");
            AtResult unknown = port.command("AT+XYZ", deadline);
            EXPECT_EQ(unknown.status, AtResult::Status::Error);
            EXPECT_EQ(unknown.value, "");
        }
    }

    modemdevice::ModuleSettings silent;
    silent.silent = true;
    modemdevice::ModuleModel model(silent);
    modemdevice::ModelLink tty(model, 0);
    AtPort port(tty);
    EXPECT_EQ(port.command("AT", Clock::now()).status, AtResult::Status::Silent);
}

TEST(AtPortTest, SwitchCommandLeavesTheBus)
{
    modemdevice::ModuleSettings settings;
    settings.switchCommand = "AT+QDLMODE=1";
    modemdevice::ModuleModel model(settings);
    modemdevice::ModelLink tty(model, 0);
    AtPort port(tty);
    EXPECT_EQ(port.command("at+qdlmode=1", Clock::now()).status, AtResult::Status::Ok);
    EXPECT_EQ(model.mode(), modemdevice::ModuleModel::Mode::Sahara);
    EXPECT_EQ(port.command("AT", Clock::now()).status, AtResult::Status::LinkLost);
}

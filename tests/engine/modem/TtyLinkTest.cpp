// The AT tty link on a pseudo-terminal: an AT exchange, silence to the
// deadline, and the other side going away.
#include "AtPort.h"
#include "TtyLink.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

using namespace modem;
using namespace std::chrono_literals;

namespace {

// A pseudo-terminal: the module's end (master) and the node the link opens.
struct Pty
{
    int master = -1;
    std::string node;

    Pty()
    {
        int slave = -1;
        char name[128];
        if (::openpty(&master, &slave, name, nullptr, nullptr) == 0) {
            node = name;
            ::close(slave);
        }
    }
    ~Pty()
    {
        if (master >= 0)
            ::close(master);
    }
    std::string readAll() const
    {
        std::string got;
        char buffer[256];
        ::fcntl(master, F_SETFL, O_NONBLOCK);
        for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;)
            got.append(buffer, size_t(n));
        return got;
    }
};

} // namespace

TEST(TtyLinkTest, AnAtExchangeOverARawTty)
{
    Pty pty;
    ASSERT_FALSE(pty.node.empty());
    std::string why;
    auto link = TtyLink::open(pty.node, &why);
    ASSERT_TRUE(link) << why;
    EXPECT_EQ(link->maxPacketSize(), 0u);

    // Nothing there: a read waits to its deadline, not longer, and is no hang-up.
    char buffer[64];
    size_t got = 0;
    const auto start = Clock::now();
    EXPECT_EQ(link->receive(buffer, sizeof buffer, &got, start + 100ms), IoStatus::Timeout);

    ASSERT_EQ(link->send("AT+CGSN\r", 8, Clock::now() + 1s), IoStatus::Ok);
    EXPECT_EQ(pty.readAll(), "AT+CGSN\r"); // raw: no echo, no translation
    const char reply[] = "\r\n356938035643809\r\n\r\nOK\r\n";
    ASSERT_EQ(::write(pty.master, reply, std::strlen(reply)), ssize_t(std::strlen(reply)));
    AtPort port(*link);
    // The reply already waiting is stale for the next command: dropped.
    const AtResult stale = port.command("AT", Clock::now() + 200ms);
    EXPECT_EQ(stale.status, AtResult::Status::Silent);
}

TEST(TtyLinkTest, TheOtherSideGoingAwayIsALostLink)
{
    Pty pty;
    ASSERT_FALSE(pty.node.empty());
    std::string why;
    auto link = TtyLink::open(pty.node, &why);
    ASSERT_TRUE(link) << why;
    ::close(pty.master);
    pty.master = -1;
    char buffer[64];
    size_t got = 0;
    EXPECT_EQ(link->receive(buffer, sizeof buffer, &got, Clock::now() + 2s), IoStatus::Closed) << link->lastError();

    EXPECT_FALSE(TtyLink::open("/nonexistent/ttyUSB9", &why));
    EXPECT_NE(why.find("/nonexistent/ttyUSB9"), std::string::npos);
}

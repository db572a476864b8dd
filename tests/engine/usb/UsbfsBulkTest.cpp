#include "UsbTestbedFixture.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// Keeps every transfer it is handed; "ask N" makes it answer with N bytes.
class RecordingDevice final : public PacketDevice
{
public:
    void receive(std::string_view packet) override
    {
        std::lock_guard lock(m_mutex);
        m_transfers.emplace_back(packet);
        if (packet.rfind("ask ", 0) == 0)
            m_replies.push_back(std::string(std::stoul(std::string(packet.substr(4))), 'r'));
    }
    std::optional<std::string> nextReply() override
    {
        std::lock_guard lock(m_mutex);
        if (m_replies.empty())
            return std::nullopt;
        std::string reply = m_replies.front();
        m_replies.erase(m_replies.begin());
        return reply;
    }
    std::vector<std::string> transfers()
    {
        std::lock_guard lock(m_mutex);
        return m_transfers;
    }

private:
    std::mutex m_mutex;
    std::vector<std::string> m_transfers;
    std::vector<std::string> m_replies;
};

} // namespace

// A host that talks usbfs itself, as Debian's qdl does: read() for the
// descriptors, one synchronous bulk ioctl per packet.
class UsbfsBulkTest : public UsbTestbedFixture
{
protected:
    void SetUp() override
    {
        UsbTestbedFixture::SetUp();
        if (IsSkipped())
            return;
        const int address = m_bed->plug("1-1.2", m_device, UsbTestbed::Ids{0x05c6, 0x9008, false});
        char node[32];
        std::snprintf(node, sizeof node, "/dev/bus/usb/001/%03d", address);
        m_fd = ::open(node, O_RDWR | O_CLOEXEC);
        ASSERT_GE(m_fd, 0) << node << ": " << std::strerror(errno);
        int interface = 0;
        ASSERT_EQ(::ioctl(m_fd, USBDEVFS_CLAIMINTERFACE, &interface), 0);
    }
    void TearDown() override
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }

    // The ioctl's result, or -errno.
    int bulk(unsigned endpoint, std::string* data, unsigned timeoutMs = 1000)
    {
        usbdevfs_bulktransfer transfer{};
        transfer.ep = endpoint;
        transfer.len = unsigned(data->size());
        transfer.timeout = timeoutMs;
        transfer.data = data->empty() ? nullptr : data->data();
        const int result = ::ioctl(m_fd, USBDEVFS_BULK, &transfer);
        return result < 0 ? -errno : result;
    }
    int out(std::string data) { return bulk(0x01, &data); }

    std::shared_ptr<RecordingDevice> m_device = std::make_shared<RecordingDevice>();
    int m_fd = -1;
};

TEST_F(UsbfsBulkTest, ReadingTheNodeGivesTheDescriptors)
{
    char buffer[1024];
    const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
    ASSERT_EQ(n, 18 + 9 + 9 + 7 + 7);
    EXPECT_EQ(buffer[1], 1); // device descriptor
    EXPECT_EQ(uint8_t(buffer[8]) | uint8_t(buffer[9]) << 8, 0x05c6);
    EXPECT_EQ(uint8_t(buffer[10]) | uint8_t(buffer[11]) << 8, 0x9008);
    EXPECT_EQ(buffer[18 + 1], 2); // configuration descriptor
    EXPECT_EQ(::read(m_fd, buffer, sizeof buffer), 0);
}

TEST_F(UsbfsBulkTest, OutPacketsAreJoinedUntilAShortOrZeroLengthPacketEndsTheTransfer)
{
    const std::string packet(512, 'a');
    ASSERT_EQ(out(packet), 512);
    ASSERT_EQ(out(packet), 512);
    EXPECT_TRUE(m_device->transfers().empty()); // not ended yet
    ASSERT_EQ(out(std::string(100, 'b')), 100);
    ASSERT_EQ(out(packet), 512);
    ASSERT_EQ(out(""), 0);
    ASSERT_EQ(out(""), 0); // a zero-length transfer of its own
    const std::vector<std::string> expected{packet + packet + std::string(100, 'b'), packet, "", ""};
    EXPECT_EQ(m_device->transfers(), expected);
}

TEST_F(UsbfsBulkTest, InWaitsForTheDevicesNextPacketOrItsTimeout)
{
    std::string buffer(64, '\0');
    EXPECT_EQ(bulk(0x81, &buffer, 50), -ETIMEDOUT);
    ASSERT_EQ(out("ask 10"), 6);
    EXPECT_EQ(bulk(0x81, &buffer), 10);
    EXPECT_EQ(buffer.substr(0, 10), std::string(10, 'r'));
    ASSERT_EQ(out("ask 100"), 7);
    EXPECT_EQ(bulk(0x81, &buffer), -EOVERFLOW);
}

TEST_F(UsbfsBulkTest, APulledDeviceFailsEveryTransfer)
{
    m_bed->unplug("1-1.2");
    std::string buffer(64, '\0');
    EXPECT_EQ(bulk(0x81, &buffer), -ENODEV);
    EXPECT_EQ(out("x"), -ENODEV);
}

// The emulated USB tree itself, seen through plain libusb.
#include "UsbTestbed.h"

#include <libusb.h>

#include <gtest/gtest.h>

#include <deque>

namespace {

class EchoDevice final : public PacketDevice
{
public:
    void receive(std::string_view packet) override { m_replies.emplace_back("ECHO" + std::string(packet)); }
    std::optional<std::string> nextReply() override
    {
        if (m_replies.empty())
            return std::nullopt;
        std::string r = m_replies.front();
        m_replies.pop_front();
        return r;
    }

private:
    std::deque<std::string> m_replies;
};

std::string locationOf(libusb_device* device)
{
    uint8_t ports[8];
    const int n = libusb_get_port_numbers(device, ports, 8);
    std::string text = std::to_string(libusb_get_bus_number(device));
    for (int i = 0; i < n; ++i)
        text += (i == 0 ? "-" : ".") + std::to_string(ports[i]);
    return text;
}

} // namespace

TEST(UsbTestbed, DevicesAppearAtTheirPortsAndAnswerBulkTransfers)
{
    std::string why;
    if (!UsbTestbed::available(&why))
        GTEST_SKIP() << why;
    UsbTestbed bed;
    bed.plug("1-1.3", std::make_shared<EchoDevice>());
    libusb_context* ctx = nullptr;
    ASSERT_EQ(libusb_init(&ctx), 0);
    libusb_device** list = nullptr;
    const ssize_t n = libusb_get_device_list(ctx, &list);
    libusb_device* found = nullptr;
    for (ssize_t i = 0; i < n; ++i) {
        if (locationOf(list[i]) == "1-1.3")
            found = list[i];
    }
    ASSERT_NE(found, nullptr) << n;
    libusb_device_handle* handle = nullptr;
    ASSERT_EQ(libusb_open(found, &handle), 0);
    ASSERT_EQ(libusb_claim_interface(handle, 0), 0);
    int done = 0;
    char out[] = "getvar:product";
    ASSERT_EQ(libusb_bulk_transfer(handle, 0x01, reinterpret_cast<unsigned char*>(out), 14, &done, 1000), 0);
    EXPECT_EQ(done, 14);
    unsigned char in[256];
    ASSERT_EQ(libusb_bulk_transfer(handle, 0x81, in, sizeof in, &done, 1000), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(in), done), "ECHOgetvar:product");
    // Nothing to say: the transfer times out.
    EXPECT_EQ(libusb_bulk_transfer(handle, 0x81, in, sizeof in, &done, 100), LIBUSB_ERROR_TIMEOUT);
    libusb_release_interface(handle, 0);
    libusb_close(handle);
    libusb_free_device_list(list, 1);
    libusb_exit(ctx);
}

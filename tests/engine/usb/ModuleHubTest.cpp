// Emulated cellular modules on the emulated USB hub, seen as the modem engine
// sees them: the AT tty found in sysfs and spoken to with open() and termios,
// download mode through plain libusb bulk transfers.
#include "ModemFlash.h"
#include "ModuleModel.h"
#include "SaharaPacket.h"
#include "UsbTestbedFixture.h"

#include "support/TempDir.h"
#include "support/TestRandom.h"
#include "support/WaitFor.h"

#include <QFile>

#include <libusb.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <chrono>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

constexpr const char* kSocket = "1-1.3";

std::string str(const QString& text) { return text.toStdString(); }

std::vector<std::string> entries(const std::string& dir)
{
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (const dirent* e = ::readdir(d)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        ::closedir(d);
    }
    return names;
}

// The tty of one interface as the USB serial driver shows it:
// <interface>/ttyUSB<k>/tty/ttyUSB<k>.
std::string ttyOfInterface(const std::string& interfaceDir)
{
    for (const std::string& port : entries(interfaceDir)) {
        if (port.rfind("ttyUSB", 0) != 0)
            continue;
        for (const std::string& name : entries(interfaceDir + "/" + port + "/tty"))
            return "/dev/" + name;
    }
    return {};
}

// The AT port as the engine opens it: raw, no echo, reads bounded by poll.
class Tty
{
public:
    explicit Tty(const std::string& node)
        : m_fd(::open(node.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC))
    {
        termios t{};
        if (m_fd >= 0 && ::tcgetattr(m_fd, &t) == 0) {
            ::cfmakeraw(&t);
            ::cfsetspeed(&t, B115200);
            ::tcsetattr(m_fd, TCSANOW, &t);
        }
    }
    ~Tty()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool isOpen() const { return m_fd >= 0; }

    // Sends a command line; returns what came back up to the final line
    // (OK or ERROR), or what came before the deadline.
    std::string command(const std::string& line, std::chrono::milliseconds limit = 5s)
    {
        const std::string out = line + "\r";
        if (::write(m_fd, out.data(), out.size()) != ssize_t(out.size()))
            return "write failed";
        std::string in;
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (in.find("OK\r\n") == std::string::npos && in.find("ERROR\r\n") == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline
                                                                                    - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                break;
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, int(left.count())) <= 0)
                break;
            char buffer[256];
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n > 0)
                in.append(buffer, size_t(n));
            else if (n < 0 && errno != EAGAIN && errno != EINTR)
                break;
        }
        return in;
    }

private:
    int m_fd;
};

// A PacketLink of plain libusb bulk transfers on interface 0 of a module in
// download mode, as small as the engine's needs to be.
class LibusbLink final : public modem::PacketLink
{
public:
    explicit LibusbLink(libusb_device_handle* handle) : m_handle(handle) {}

    modem::IoStatus send(const void* data, size_t size, modem::Clock::time_point deadline) override
    {
        int done = 0;
        const int rc = libusb_bulk_transfer(m_handle, 0x01, static_cast<unsigned char*>(const_cast<void*>(data)),
                                            int(size), &done, timeout(deadline));
        return status(rc);
    }
    modem::IoStatus receive(void* buffer, size_t capacity, size_t* size, modem::Clock::time_point deadline) override
    {
        int done = 0;
        const int rc = libusb_bulk_transfer(m_handle, 0x81, static_cast<unsigned char*>(buffer), int(capacity), &done,
                                            timeout(deadline));
        *size = size_t(done);
        return status(rc);
    }
    size_t maxPacketSize() const override { return 512; }
    std::string lastError() const override { return m_error; }

private:
    static unsigned int timeout(modem::Clock::time_point deadline)
    {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - modem::Clock::now());
        return unsigned(std::max<long long>(1, left.count()));
    }
    modem::IoStatus status(int rc)
    {
        m_error = libusb_error_name(rc);
        switch (rc) {
        case 0: return modem::IoStatus::Ok;
        case LIBUSB_ERROR_TIMEOUT: return modem::IoStatus::Timeout;
        case LIBUSB_ERROR_NO_DEVICE:
        case LIBUSB_ERROR_IO: return modem::IoStatus::Closed;
        case LIBUSB_ERROR_OVERFLOW: return modem::IoStatus::TooLarge;
        default: return modem::IoStatus::Error;
        }
    }

    libusb_device_handle* m_handle;
    std::string m_error;
};

// The device in a socket as libusb lists it now.
struct Seen
{
    bool present = false;
    uint16_t vendor = 0;
    uint16_t product = 0;
    int address = 0;
    std::vector<int> interfaceClasses;
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

class ModuleHubTest : public UsbTestbedFixture
{
protected:
    void SetUp() override
    {
        UsbTestbedFixture::SetUp();
        if (IsSkipped())
            return;
        ASSERT_EQ(libusb_init(&m_ctx), 0);
    }
    void TearDown() override
    {
        if (m_ctx)
            libusb_exit(m_ctx);
    }

    Seen seen(const std::string& location)
    {
        Seen s;
        libusb_device** list = nullptr;
        const ssize_t n = libusb_get_device_list(m_ctx, &list);
        for (ssize_t i = 0; i < n; ++i) {
            if (locationOf(list[i]) != location)
                continue;
            libusb_device_descriptor d{};
            libusb_get_device_descriptor(list[i], &d);
            s.present = true;
            s.vendor = d.idVendor;
            s.product = d.idProduct;
            s.address = libusb_get_device_address(list[i]);
            libusb_config_descriptor* config = nullptr;
            if (libusb_get_active_config_descriptor(list[i], &config) == 0) {
                for (int k = 0; k < config->bNumInterfaces; ++k)
                    s.interfaceClasses.push_back(config->interface[k].altsetting[0].bInterfaceClass);
                libusb_free_config_descriptor(config);
            }
        }
        libusb_free_device_list(list, 1);
        return s;
    }
    bool waitForIds(const std::string& location, uint16_t vendor, uint16_t product, int notAddress = 0)
    {
        return waitFor([&] {
            const Seen s = seen(location);
            return s.present && s.vendor == vendor && s.product == product && s.address != notAddress;
        });
    }
    libusb_device_handle* open(const std::string& location)
    {
        libusb_device** list = nullptr;
        const ssize_t n = libusb_get_device_list(m_ctx, &list);
        libusb_device_handle* handle = nullptr;
        for (ssize_t i = 0; i < n; ++i) {
            if (locationOf(list[i]) == location && libusb_open(list[i], &handle) == 0)
                break;
        }
        libusb_free_device_list(list, 1);
        if (handle && libusb_claim_interface(handle, 0) != 0) {
            libusb_close(handle);
            return nullptr;
        }
        return handle;
    }
    static void close(libusb_device_handle* handle)
    {
        libusb_release_interface(handle, 0);
        libusb_close(handle);
    }

    libusb_context* m_ctx = nullptr;
};

modemdevice::ModuleSettings normalModule()
{
    modemdevice::ModuleSettings s;
    s.imei = "356938035643809";
    s.revision = "ABC_DE_V1.0";
    s.switchCommand = "AT+DLMODE";
    s.programmer = "PROGRAMMER";
    return s;
}

// A small package: a programmer, one image with the revision marker.
struct Package
{
    TempDir dir;
    TempDir storage;
    QByteArray programmer = pseudoRandomBytes(6000, 7);
    QByteArray image = pseudoRandomBytes(2 * 1024 * 1024, 8) + QByteArray("MODEM_REVISION=ABC_DE_V2.3\n");
    modem::FlashPackage package;

    Package()
    {
        dir.write("prog_firehose.mbn", programmer);
        dir.write("modem.img", image);
        dir.write("rawprogram0.xml",
                  "<?xml version=\"1.0\" ?>\n<data>\n<program SECTOR_SIZE_IN_BYTES=\"512\" filename=\"modem.img\" "
                  "label=\"modem\" num_partition_sectors=\"8192\" physical_partition_number=\"0\" "
                  "start_sector=\"64\"/>\n</data>\n");
        std::string why;
        EXPECT_TRUE(modem::FlashPackage::load(str(dir.path()), {}, &package, &why)) << why;
    }
    modemdevice::ModuleSettings module() const
    {
        modemdevice::ModuleSettings s = normalModule();
        s.programmer = programmer.toStdString();
        s.storageDir = str(storage.path());
        s.diskSectors = 1 << 16;
        return s;
    }
    QByteArray written(qint64 offset, qint64 size) const
    {
        QFile file(storage.file("lun0.img"));
        if (!file.open(QIODevice::ReadOnly) || !file.seek(offset))
            return {};
        return file.read(size);
    }
};

modem::ModemFlash::Settings flashSettings()
{
    modem::ModemFlash::Settings s;
    s.maxPayload = 64 * 1024;
    return s;
}

} // namespace

TEST_F(ModuleHubTest, NormalModeShowsItsPortsAndTheAtTtyAnswers)
{
    if (IsSkipped())
        return;
    modemdevice::ModuleModel model(normalModule());
    m_bed->plugModule(kSocket, model);
    const Seen s = seen(kSocket);
    ASSERT_TRUE(s.present);
    EXPECT_EQ(s.vendor, 0x1209);
    EXPECT_EQ(s.product, 0x0001);
    EXPECT_EQ(s.interfaceClasses, (std::vector<int>{0xff, 0xff, 0xff}));

    // Every port has a tty; the third answers AT.
    const std::string base = m_bed->rootDir() + "/bus/usb/devices/" + kSocket;
    for (int n = 0; n < 3; ++n)
        EXPECT_FALSE(ttyOfInterface(base + ":1." + std::to_string(n)).empty()) << n;
    const std::string node = ttyOfInterface(base + ":1.2");
    EXPECT_EQ(node, m_bed->atTty(kSocket));
    Tty tty(node);
    ASSERT_TRUE(tty.isOpen()) << node << ": " << std::strerror(errno);
    EXPECT_EQ(tty.command("AT"), "\r\nOK\r\n");
    EXPECT_EQ(tty.command("AT+CGSN"), "\r\n356938035643809\r\n\r\nOK\r\n");
    EXPECT_EQ(tty.command("AT+CGMR"), "\r\nABC_DE_V1.0\r\n\r\nOK\r\n");
    EXPECT_EQ(tty.command("AT+CPIN?"), "\r\nERROR\r\n");
}

TEST_F(ModuleHubTest, EchoAndSilenceAreTheModelsOwn)
{
    if (IsSkipped())
        return;
    modemdevice::ModuleSettings echoing = normalModule();
    echoing.echo = true;
    modemdevice::ModuleSettings silent = normalModule();
    silent.silent = true;
    modemdevice::ModuleModel a(echoing);
    modemdevice::ModuleModel b(silent);
    m_bed->plugModule("1-1.1", a);
    m_bed->plugModule("1-1.2", b);
    Tty echo(m_bed->atTty("1-1.1"));
    EXPECT_EQ(echo.command("AT"), "AT\r\r\nOK\r\n");
    Tty quiet(m_bed->atTty("1-1.2"));
    EXPECT_EQ(quiet.command("AT", 200ms), "");
}

TEST_F(ModuleHubTest, SwitchCommandBringsItBackInDownloadModeSayingHello)
{
    if (IsSkipped())
        return;
    modemdevice::ModuleModel model(normalModule());
    const int first = m_bed->plugModule(kSocket, model);
    {
        Tty tty(m_bed->atTty(kSocket));
        EXPECT_EQ(tty.command("at+dlmode"), "\r\nOK\r\n");
    }
    ASSERT_TRUE(waitForIds(kSocket, 0x05c6, 0x9008, first));
    EXPECT_EQ(m_bed->arrivals(kSocket), 2);
    EXPECT_EQ(m_bed->atTty(kSocket), "");
    EXPECT_EQ(seen(kSocket).interfaceClasses, (std::vector<int>{0xff}));

    libusb_device_handle* handle = open(kSocket);
    ASSERT_NE(handle, nullptr);
    unsigned char in[512];
    int done = 0;
    ASSERT_EQ(libusb_bulk_transfer(handle, 0x81, in, sizeof in, &done, 5000), 0);
    modem::SaharaPacket hello;
    std::string why;
    ASSERT_TRUE(modem::SaharaPacket::parse(in, size_t(done), &hello, &why)) << why;
    EXPECT_EQ(hello.command, modem::SaharaPacket::Hello);
    close(handle);
}

TEST_F(ModuleHubTest, FlashOverLibusbWritesTheImageAndResetComesBackWithTheNewRevision)
{
    if (IsSkipped())
        return;
    Package p;
    modemdevice::ModuleSettings settings = p.module();
    settings.startInDownload = true;
    modemdevice::ModuleModel model(settings);
    const int first = m_bed->plugModule(kSocket, model);
    const Seen s = seen(kSocket);
    EXPECT_EQ(s.vendor, 0x05c6);
    EXPECT_EQ(s.product, 0x9008);

    libusb_device_handle* handle = open(kSocket);
    ASSERT_NE(handle, nullptr);
    LibusbLink link(handle);
    std::string failure;
    modem::ModemFlash flash(link, p.package, flashSettings(), {}, {});
    const bool ok = flash.run();
    failure = flash.failure().text;
    close(handle);
    ASSERT_TRUE(ok) << failure;
    EXPECT_EQ(p.written(64 * 512, p.image.size()), p.image);
    EXPECT_EQ(model.resets(), 1);
    EXPECT_EQ(model.missingZeroLengthPackets(), 0);

    ASSERT_TRUE(waitForIds(kSocket, 0x1209, 0x0001, first));
    ASSERT_TRUE(waitFor([&] { return !m_bed->atTty(kSocket).empty(); }));
    Tty tty(m_bed->atTty(kSocket));
    EXPECT_EQ(tty.command("AT+CGMR"), "\r\nABC_DE_V2.3\r\n\r\nOK\r\n");
    EXPECT_EQ(tty.command("AT+CGSN"), "\r\n356938035643809\r\n\r\nOK\r\n");
}

TEST_F(ModuleHubTest, PulledMidTransferEndsTheTransfersAndPutBackStartsFromTheBootRom)
{
    if (IsSkipped())
        return;
    Package p;
    modemdevice::ModuleSettings settings = p.module();
    settings.startInDownload = true;
    modemdevice::ModuleModel model(settings);
    m_bed->plugModule(kSocket, model);

    libusb_device_handle* handle = open(kSocket);
    ASSERT_NE(handle, nullptr);
    LibusbLink link(handle);
    bool pulled = false;
    modem::ModemFlash flash(link, p.package, flashSettings(),
                            [&](uint64_t written, uint64_t) {
                                if (written > 0 && !pulled) {
                                    pulled = true;
                                    m_bed->pull(kSocket);
                                }
                            },
                            {});
    EXPECT_FALSE(flash.run());
    EXPECT_TRUE(pulled);
    EXPECT_EQ(flash.failure().kind, modem::ModemFailure::Kind::ConnectionLost) << flash.failure().text;
    close(handle);
    EXPECT_FALSE(seen(kSocket).present);
    EXPECT_EQ(m_bed->arrivals(kSocket), 1);

    // Put back, the chip says hello again.
    m_bed->putBack(kSocket);
    ASSERT_TRUE(waitForIds(kSocket, 0x05c6, 0x9008));
    handle = open(kSocket);
    ASSERT_NE(handle, nullptr);
    unsigned char in[512];
    int done = 0;
    ASSERT_EQ(libusb_bulk_transfer(handle, 0x81, in, sizeof in, &done, 5000), 0);
    modem::SaharaPacket hello;
    std::string why;
    EXPECT_TRUE(modem::SaharaPacket::parse(in, size_t(done), &hello, &why)) << why;
    EXPECT_EQ(hello.command, modem::SaharaPacket::Hello);
    close(handle);
}

TEST_F(ModuleHubTest, AModuleThatStopsReadingLeavesTheTransferToItsDeadline)
{
    if (IsSkipped())
        return;
    Package p;
    modemdevice::ModuleSettings settings = p.module();
    settings.startInDownload = true;
    settings.stopAfter = 256 * 1024;
    modemdevice::ModuleModel model(settings);
    m_bed->plugModule(kSocket, model);
    libusb_device_handle* handle = open(kSocket);
    ASSERT_NE(handle, nullptr);
    LibusbLink link(handle);
    modem::ModemFlash::Settings quick = flashSettings();
    quick.firehose = {500ms, 500ms, 500ms};
    modem::ModemFlash flash(link, p.package, quick, {}, {});
    EXPECT_FALSE(flash.run());
    EXPECT_EQ(flash.failure().kind, modem::ModemFailure::Kind::Timeout) << flash.failure().text;
    close(handle);
    // Still on the bus, as a hung chip is.
    EXPECT_TRUE(seen(kSocket).present);
}

TEST_F(ModuleHubTest, ADroppedLinkComesBackInDownloadMode)
{
    if (IsSkipped())
        return;
    Package p;
    modemdevice::ModuleSettings settings = p.module();
    settings.startInDownload = true;
    settings.dropAfter = 256 * 1024;
    modemdevice::ModuleModel model(settings);
    const int first = m_bed->plugModule(kSocket, model);
    libusb_device_handle* handle = open(kSocket);
    ASSERT_NE(handle, nullptr);
    LibusbLink link(handle);
    modem::ModemFlash flash(link, p.package, flashSettings(), {}, {});
    EXPECT_FALSE(flash.run());
    EXPECT_EQ(flash.failure().kind, modem::ModemFailure::Kind::ConnectionLost) << flash.failure().text;
    close(handle);
    EXPECT_TRUE(waitForIds(kSocket, 0x05c6, 0x9008, first));
    EXPECT_EQ(model.mode(), modemdevice::ModuleModel::Mode::Sahara);
}

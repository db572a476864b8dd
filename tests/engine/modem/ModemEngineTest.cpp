// The modem engine on emulated modules in this process (through the
// ModemLinks seam): presence and identity, downloads from normal and from
// download mode, read-back, and each failure with its result code.
#include "ModelLinks.h"
#include "ModemEngine.h"
#include "ModemResults.h"
#include "ModuleModel.h"

#include "support/TempDir.h"
#include "support/TestRandom.h"
#include "support/WaitFor.h"

#include <QFile>

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

std::string str(const QString& text) { return text.toStdString(); }

// The events an engine raised, from whichever thread.
class RecordingSink final : public EngineEventSink
{
public:
    struct Event
    {
        int32_t type;
        int32_t line;
        int32_t value;
        std::string text;
    };

    int32_t Reserved0() override { return 0; }
    void Reserved1() override {}
    EngineEventSink* Reserved2(int32_t, int32_t) override { return nullptr; }
    void Reserved3(int32_t, int32_t, int32_t) override {}
    void Reserved4(int32_t, int32_t) override {}
    int32_t Reserved5(int32_t, int32_t, int32_t, int32_t) override { return 0; }
    int32_t Reserved6(int32_t, int32_t) override { return 0; }
    int32_t Reserved7(int32_t, int32_t, int32_t, int32_t) override { return 0; }
    int32_t Reserved8(int32_t, int32_t) override { return 0; }
    int32_t Reserved9(int32_t, int32_t) override { return 0; }
    int32_t Reserved10(int32_t, int32_t) override { return 0; }
    int32_t Reserved11(int32_t, int32_t, int32_t) override { return 0; }
    int32_t Reserved12(int32_t) override { return 0; }
    int32_t Reserved13(int32_t, int32_t, int32_t) override { return 0; }
    int32_t Reserved14(int32_t) override { return 0; }
    void Reserved15(int32_t) override {}
    void Reserved16(int32_t, int32_t) override {}
    void Reserved17(int32_t) override {}
    void OnEvent(EngineEvent* event) override
    {
        Event e{event->type, event->line, 0, {}};
        if (event->type == ENGINE_EVENT_MESSAGE)
            e.text = static_cast<const char*>(event->data);
        else
            e.value = *static_cast<const int32_t*>(event->data);
        std::lock_guard lock(m_mutex);
        m_events.push_back(std::move(e));
    }

    std::vector<Event> of(int32_t type, int line) const
    {
        std::lock_guard lock(m_mutex);
        std::vector<Event> found;
        for (const Event& e : m_events) {
            if (e.type == type && e.line == line)
                found.push_back(e);
        }
        return found;
    }
    bool hasMessage(int line, const std::string& part) const
    {
        for (const Event& e : of(ENGINE_EVENT_MESSAGE, line)) {
            if (e.text.find(part) != std::string::npos)
                return true;
        }
        return false;
    }
    std::string messages(int line) const
    {
        std::string all;
        for (const Event& e : of(ENGINE_EVENT_MESSAGE, line))
            all += e.text + "\n";
        return all;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<Event> m_events;
};

constexpr char kSwitch[] = "AT$QDLOAD";

// A station folder with config.ini, a package and emulated modules.
class ModemEngineTest : public ::testing::Test
{
protected:
    TempDir station;
    TempDir package;
    QByteArray programmer = pseudoRandomBytes(6000, 7);
    QByteArray modemImage = pseudoRandomBytes(300 * 1024, 8) + QByteArray("MODEM_REVISION=MDM-2.0.0\n");
    QByteArray bootImage = pseudoRandomBytes(5 * 512 + 17, 9);
    std::vector<std::unique_ptr<TempDir>> storages;
    std::vector<std::unique_ptr<modemdevice::ModuleModel>> models;
    ModelLinks* links = nullptr;
    RecordingSink sink;
    std::unique_ptr<modem::ModemEngine> engine;

    void SetUp() override
    {
        package.write("prog_firehose.mbn", programmer);
        package.write("modem.img", modemImage);
        package.write("boot.img", bootImage);
        package.write("system.img", "\nro.build.display.id=MDM-2.0.0\nro.build.sw_internal_version=MDM-2.0.0\n");
        package.write("rawprogram0.xml",
                      "<?xml version=\"1.0\"?>\n<data>\n"
                      "<program SECTOR_SIZE_IN_BYTES=\"512\" filename=\"boot.img\" label=\"boot\" "
                      "physical_partition_number=\"0\" start_sector=\"64\"/>\n"
                      "<program SECTOR_SIZE_IN_BYTES=\"4096\" filename=\"modem.img\" label=\"modem\" "
                      "physical_partition_number=\"1\" start_sector=\"8\"/>\n</data>\n");
    }

    void TearDown() override { engine.reset(); }

    void writeConfig(const std::string& extra = {})
    {
        std::string text = "[GET_DLL_Setting]\nITEM_VERSIONFILE_PATH=" + str(package.path())
            + "\n[MODEM_Engine]\nPORT.1=usb:1-1.1\nPORT.2=usb:1-1.2\nPORT.3=usb:1-1.3\nLEARN_PORTS=0\n"
              "PROBE_INTERVAL_MS=100\nARRIVAL_TIMEOUT_S=5\nEDL_SWITCH=at:"
            + kSwitch + "\n" + extra;
        station.write("config.ini", QByteArray::fromStdString(text));
    }

    modemdevice::ModuleSettings moduleSettings(const std::string& imei)
    {
        storages.push_back(std::make_unique<TempDir>());
        modemdevice::ModuleSettings s;
        s.imei = imei;
        s.revision = "MDM-1.0.0";
        s.switchCommand = kSwitch;
        s.programmer = programmer.toStdString();
        s.storageDir = str(storages.back()->path());
        s.diskSectors = 8192;
        return s;
    }

    modemdevice::ModuleModel& plug(int port, const modemdevice::ModuleSettings& settings)
    {
        models.push_back(std::make_unique<modemdevice::ModuleModel>(settings));
        links->plug("1-1." + std::to_string(port), models.back().get());
        return *models.back();
    }

    void start(const std::string& extra = {})
    {
        writeConfig(extra);
        auto owned = std::make_unique<ModelLinks>();
        links = owned.get();
        engine = std::make_unique<modem::ModemEngine>(
            str(station.path()), [&](std::function<void()>) { return std::move(owned); });
        engine->RegisterSink(&sink);
    }

    int32_t query(int port, std::string* text = nullptr)
    {
        EngineText info{};
        const int32_t status = engine->QueryDevice(port - 1, port, &info);
        if (text)
            *text = info.text;
        return status;
    }

    bool waitQuery(int port, int32_t status, const std::string& text = {})
    {
        return waitFor([&] {
            std::string got;
            return query(port, &got) == status && (text.empty() || got == text);
        });
    }

    QByteArray written(size_t module, int lun, qint64 offset, qint64 size) const
    {
        QFile file(storages.at(module)->file(QString("lun%1.img").arg(lun)));
        if (!file.open(QIODevice::ReadOnly) || !file.seek(offset))
            return {};
        return file.read(size);
    }

    void expectWritten(size_t module)
    {
        EXPECT_EQ(written(module, 0, 64 * 512, bootImage.size()), bootImage);
        EXPECT_EQ(written(module, 1, 8 * 4096, modemImage.size()), modemImage);
    }
};

TEST_F(ModemEngineTest, PresenceFromTheIdentityOverAt)
{
    start();
    auto normal = moduleSettings("356938035643809");
    normal.quoted = true;
    normal.echo = true;
    plug(1, normal);
    auto blank = moduleSettings("");
    blank.startInDownload = true;
    plug(2, blank);
    auto silent = moduleSettings("356938035643817");
    silent.silent = true;
    plug(3, silent);

    EXPECT_TRUE(waitQuery(1, 0, "MDM-1.0.0,MDM-1.0.0,356938035643809"));
    EXPECT_TRUE(waitQuery(2, 0, ",,"));
    EXPECT_TRUE(waitQuery(3, 2));
    EXPECT_TRUE(sink.hasMessage(2, "does not answer on its AT port")) << sink.messages(2);
    std::vector<int32_t> ports(256, 0);
    int32_t count = 256;
    ASSERT_EQ(engine->EnumeratePorts(ports.data(), &count), 0);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(query(9), -1);

    // Pulled: empty.
    links->pull("1-1.1");
    EXPECT_TRUE(waitQuery(1, -1));
}

TEST_F(ModemEngineTest, DownloadFromNormalModeWithReadBack)
{
    start();
    auto& model = plug(1, moduleSettings("356938035643809"));
    ASSERT_TRUE(waitQuery(1, 0));
    EXPECT_EQ(engine->Download(0, 1), MODEM_RESULT_SUCCESS) << sink.messages(0);
    expectWritten(0);
    EXPECT_EQ(model.revision(), "MDM-2.0.0");
    EXPECT_EQ(model.resets(), 1);
    const auto progress = sink.of(ENGINE_EVENT_PROGRESS, 0);
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.front().value, 0);
    EXPECT_EQ(progress.back().value, 100);
    const auto results = sink.of(ENGINE_EVENT_RESULT, 0);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results.front().value, MODEM_RESULT_SUCCESS);
    EXPECT_TRUE(sink.hasMessage(0, "Chip serial number 0x1a2b3c4d")) << sink.messages(0);
    EXPECT_TRUE(sink.hasMessage(0, "Download complete"));
    // The row keeps the identity it was offered with.
    EXPECT_TRUE(waitQuery(1, 0, "MDM-1.0.0,MDM-1.0.0,356938035643809"));
}

TEST_F(ModemEngineTest, BlankBoardAndReadBackOff)
{
    start("READBACK=0\n");
    auto blank = moduleSettings("");
    blank.startInDownload = true;
    auto& model = plug(1, blank);
    ASSERT_TRUE(waitQuery(1, 0, ",,"));
    EXPECT_EQ(engine->Download(0, 1), MODEM_RESULT_SUCCESS) << sink.messages(0);
    expectWritten(0);
    EXPECT_EQ(model.resets(), 1);
    EXPECT_FALSE(sink.hasMessage(0, "Waiting for the module to come back"));
}

TEST_F(ModemEngineTest, ReadBackMismatch)
{
    package.write("system.img", "\nro.build.display.id=MDM-9.9.9\nro.build.sw_internal_version=MDM-9.9.9\n");
    start();
    plug(1, moduleSettings("356938035643809"));
    ASSERT_TRUE(waitQuery(1, 0));
    EXPECT_EQ(engine->Download(0, 1), MODEM_RESULT_READBACK_MISMATCH);
    EXPECT_TRUE(sink.hasMessage(0, "display version expected MDM-9.9.9, found MDM-2.0.0")) << sink.messages(0);
}

TEST_F(ModemEngineTest, FailuresHaveTheirOwnCodes)
{
    start();
    // Nothing in the socket, a port without a socket.
    EXPECT_EQ(engine->Download(0, 1), MODEM_RESULT_NO_MODULE);
    EXPECT_EQ(engine->Download(3, 4), MODEM_RESULT_NO_MODULE);
    EXPECT_TRUE(sink.hasMessage(3, "set PORT.4=usb:<socket>"));

    // The programmer does not match the chip.
    auto refused = moduleSettings("356938035643809");
    refused.programmer = "another programmer";
    plug(1, refused);
    EXPECT_EQ(engine->Download(0, 1), MODEM_RESULT_PROGRAMMER_REFUSED);
    EXPECT_TRUE(sink.hasMessage(0, "secure-boot keys")) << sink.messages(0);

    // The programmer refuses a program: its log lines in the message.
    auto nak = moduleSettings("356938035643810");
    nak.failLabel = "modem";
    plug(2, nak);
    EXPECT_EQ(engine->Download(1, 2), MODEM_RESULT_FIREHOSE_NAK) << sink.messages(1);

    // Pulled mid-transfer.
    auto pulled = moduleSettings("356938035643811");
    pulled.dropAfter = 100 * 1024;
    plug(3, pulled);
    EXPECT_EQ(engine->Download(2, 3), MODEM_RESULT_CONNECTION_LOST) << sink.messages(2);
    EXPECT_TRUE(sink.hasMessage(2, "Was the module pulled?"));

    // One result per download.
    for (int line : {0, 1, 2, 3})
        EXPECT_EQ(sink.of(ENGINE_EVENT_RESULT, line).size(), line == 0 ? 2u : 1u);
}

TEST_F(ModemEngineTest, SettingsAndPackageFaultsComeFirst)
{
    start("EDL_SWITCH=\nSTORAGE=sdcard\n");
    plug(1, moduleSettings("356938035643809"));
    ASSERT_TRUE(waitQuery(1, 0));
    // Normal mode without a switch command: settings.
    station.write("config.ini", station.read("config.ini").replace("EDL_SWITCH=at:AT$QDLOAD\n", ""));
    EXPECT_EQ(engine->Download(0, 1), MODEM_RESULT_BAD_SETTINGS);
    EXPECT_TRUE(sink.hasMessage(0, "STORAGE=sdcard")) << sink.messages(0);
    EXPECT_TRUE(sink.hasMessage(0, "EDL_SWITCH is not set"));

    // A rawprogram line naming a missing image: which file and line.
    package.write("rawprogram0.xml", "<data>\n<program SECTOR_SIZE_IN_BYTES=\"512\" filename=\"gone.img\" "
                                     "label=\"x\" physical_partition_number=\"0\" start_sector=\"0\"/>\n</data>\n");
    EXPECT_EQ(engine->Download(0, 1), MODEM_RESULT_BAD_PACKAGE);
    EXPECT_TRUE(sink.hasMessage(0, "rawprogram0.xml:2")) << sink.messages(0);
}

TEST_F(ModemEngineTest, ATimeoutOfTheModule)
{
    start();
    auto stalled = moduleSettings("356938035643809");
    stalled.stopAfter = 64 * 1024;
    plug(1, stalled);
    EXPECT_EQ(engine->Download(0, 1), MODEM_RESULT_TIMEOUT) << sink.messages(0);
}

} // namespace

namespace {

// A module with three ttys of which only the last answers AT.
class ThreeTtys final : public modem::ModemLinks
{
public:
    explicit ThreeTtys(modemdevice::ModuleModel& at, modemdevice::ModuleModel& silent) : m_at(at), m_silent(silent) {}
    State state(const std::string&) const override { return {Mode::Normal, 1}; }
    bool waitFor(const std::string&, Mode, int, modem::Clock::time_point) override { return true; }
    std::vector<std::string> ttys(const std::string&, int atInterface) const override
    {
        return atInterface == 1 ? std::vector<std::string>{"ttyUSB1"}
                                : std::vector<std::string>{"ttyUSB0", "ttyUSB1", "ttyUSB2"};
    }
    std::unique_ptr<modem::PacketLink> openTty(const std::string& tty, std::string*) override
    {
        opened.push_back(tty);
        return std::make_unique<modemdevice::ModelLink>(tty == "ttyUSB2" ? m_at : m_silent);
    }
    std::unique_ptr<modem::PacketLink> openDownload(const std::string&, modem::Clock::time_point, std::string*) override
    {
        return nullptr;
    }
    std::vector<std::string> opened;

private:
    modemdevice::ModuleModel& m_at;
    modemdevice::ModuleModel& m_silent;
};

} // namespace

TEST(ModuleIdentityTest, TheTtyThatAnsweredIsTriedFirstNextTime)
{
    modemdevice::ModuleSettings normal;
    normal.imei = "356938035643809";
    normal.revision = "MDM-1.0.0";
    modemdevice::ModuleSettings quiet = normal;
    quiet.silent = true;
    modemdevice::ModuleModel at(normal);
    modemdevice::ModuleModel silent(quiet);
    ThreeTtys links(at, silent);
    modem::ModemSettings settings;
    modem::ModuleIdentity identity;
    std::string why;
    size_t position = SIZE_MAX;
    ASSERT_EQ(modem::ModuleIdentity::read(links, "1-1.1", settings, &identity, &why, &position),
              modem::ModuleIdentity::Outcome::Read)
        << why;
    EXPECT_EQ(identity.joined(), "MDM-1.0.0,MDM-1.0.0,356938035643809");
    EXPECT_EQ(links.opened, (std::vector<std::string>{"ttyUSB0", "ttyUSB1", "ttyUSB2"}));
    EXPECT_EQ(position, 2u);
    links.opened.clear();
    ASSERT_EQ(modem::ModuleIdentity::read(links, "1-1.1", settings, &identity, &why, &position),
              modem::ModuleIdentity::Outcome::Read);
    EXPECT_EQ(links.opened, std::vector<std::string>{"ttyUSB2"});

    // AT_INTERFACE names a silent one: silent, with the tty in the reason.
    settings.atInterface = 1;
    EXPECT_EQ(modem::ModuleIdentity::read(links, "1-1.1", settings, &identity, &why),
              modem::ModuleIdentity::Outcome::Silent);
    EXPECT_NE(why.find("ttyUSB1"), std::string::npos) << why;
}

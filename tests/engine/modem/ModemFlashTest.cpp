// A package written into an emulated module end to end: every written range
// equal to the package, and the failures on the way (a refused configure,
// program or programmer, a module that stops) and sparse images expanded.
#include "AtPort.h"
#include "FirehoseTarget.h"
#include "ModelLink.h"
#include "ModemFlash.h"
#include "ModuleModel.h"
#include "SparseImage.h"

#include "support/TempDir.h"
#include "support/TestRandom.h"

#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

using namespace modem;

namespace {

std::string str(const QString& text) { return text.toStdString(); }

// A package of three images over two physical partitions, one of them ending
// in a partial sector and one placed from the end of the disk.
struct Package
{
    TempDir dir;
    TempDir storage;
    QByteArray programmer = pseudoRandomBytes(9000, 1);
    QByteArray boot = pseudoRandomBytes(3 * 512 + 100, 2);
    QByteArray modem = pseudoRandomBytes(256 * 1024, 3) + QByteArray("MODEM_REVISION=MDM-3.1.4\n");
    QByteArray tail = pseudoRandomBytes(4 * 512, 4);
    FlashPackage package;

    explicit Package(const std::string& extraProgram = {}, const std::vector<std::pair<QString, QByteArray>>& extraFiles = {})
    {
        for (const auto& [name, content] : extraFiles)
            dir.write(name, content);
        dir.write("prog_firehose.mbn", programmer);
        dir.write("boot.img", boot);
        dir.write("modem.img", modem);
        dir.write("tail.img", tail);
        dir.write("rawprogram0.xml", QByteArray::fromStdString(
            "<?xml version=\"1.0\" ?>\n<data>\n"
            "<program SECTOR_SIZE_IN_BYTES=\"512\" filename=\"boot.img\" label=\"boot\" num_partition_sectors=\"8\" "
            "physical_partition_number=\"0\" start_sector=\"40\"/>\n"
            "<program SECTOR_SIZE_IN_BYTES=\"512\" filename=\"\" label=\"gpt\" physical_partition_number=\"0\" "
            "start_sector=\"0\"/>\n"
            "<program SECTOR_SIZE_IN_BYTES=\"4096\" filename=\"modem.img\" label=\"modem\" "
            "physical_partition_number=\"1\" start_sector=\"10\"/>\n"
            "<program SECTOR_SIZE_IN_BYTES=\"512\" filename=\"tail.img\" label=\"tail\" physical_partition_number=\"0\" "
            "start_sector=\"NUM_DISK_SECTORS-4.\"/>\n"
            + extraProgram + "</data>\n"));
        dir.write("patch0.xml",
                  "<data><patch SECTOR_SIZE_IN_BYTES=\"512\" byte_offset=\"16\" filename=\"DISK\" "
                  "physical_partition_number=\"0\" size_in_bytes=\"8\" start_sector=\"1\" "
                  "value=\"NUM_DISK_SECTORS-34.\" what=\"Update last partition\"/>"
                  "<patch SECTOR_SIZE_IN_BYTES=\"512\" byte_offset=\"0\" filename=\"DISK\" "
                  "physical_partition_number=\"0\" size_in_bytes=\"4\" start_sector=\"2\" "
                  "value=\"CRC32(40,1636)\" what=\"Checksum of boot\"/></data>");
        std::string why;
        EXPECT_TRUE(FlashPackage::load(str(dir.path()), {}, &package, &why)) << why;
    }

    modemdevice::ModuleSettings module() const
    {
        modemdevice::ModuleSettings settings;
        settings.startInDownload = true;
        settings.programmer = programmer.toStdString();
        settings.storageDir = str(storage.path());
        settings.diskSectors = 4096;
        settings.imei = "356938035643809";
        settings.revision = "MDM-1.0.0";
        return settings;
    }

    QByteArray written(int lun, qint64 offset, qint64 size) const
    {
        QFile file(storage.file(QString("lun%1.img").arg(lun)));
        if (!file.open(QIODevice::ReadOnly) || !file.seek(offset))
            return {};
        return file.read(size);
    }
};

ModemFlash::Settings quickSettings()
{
    ModemFlash::Settings settings;
    settings.saharaTimeout = std::chrono::milliseconds(50);
    settings.firehose = {std::chrono::milliseconds(50), std::chrono::milliseconds(50), std::chrono::milliseconds(50)};
    return settings;
}

struct FlashRun
{
    bool ok = false;
    ModemFailure failure;
    std::vector<std::string> messages;
    std::vector<std::pair<uint64_t, uint64_t>> progress;
};

FlashRun flash(modemdevice::ModuleModel& model, const FlashPackage& package, ModemFlash::Settings settings = quickSettings())
{
    FlashRun run;
    modemdevice::ModelLink link(model);
    ModemFlash job(link, package, settings,
                   [&](uint64_t written, uint64_t total) { run.progress.emplace_back(written, total); },
                   [&](const std::string& text) { run.messages.push_back(text); });
    run.ok = job.run();
    run.failure = job.failure();
    return run;
}

} // namespace

TEST(ModemFlashTest, WritesEveryRangeAndComesBackWithTheNewRevision)
{
    Package p;
    modemdevice::ModuleModel model(p.module());
    const FlashRun run = flash(model, p.package);
    ASSERT_TRUE(run.ok) << run.failure.text;

    EXPECT_EQ(p.written(0, 40 * 512, p.boot.size()), p.boot);
    EXPECT_EQ(p.written(0, 40 * 512 + p.boot.size(), 512 - 100), QByteArray(512 - 100, '\0'));
    EXPECT_EQ(p.written(1, 10 * 4096, p.modem.size()), p.modem);
    EXPECT_EQ(p.written(0, (4096 - 4) * 512, p.tail.size()), p.tail);
    // The patch: little-endian NUM_DISK_SECTORS-34 at sector 1, byte 16.
    const QByteArray patched = p.written(0, 512 + 16, 8);
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i)
        value = value << 8 | uint8_t(patched[i]);
    EXPECT_EQ(value, 4096u - 34);
    // The checksum patch: CRC-32 of the boot image as written.
    const QByteArray crc = p.written(0, 2 * 512, 4);
    const uint32_t expected = modemdevice::FirehoseTarget::crc32(p.boot.constData(), size_t(p.boot.size()));
    EXPECT_EQ(uint32_t(uint8_t(crc[0])) | uint32_t(uint8_t(crc[1])) << 8 | uint32_t(uint8_t(crc[2])) << 16
                  | uint32_t(uint8_t(crc[3])) << 24,
              expected);
    EXPECT_EQ(modemdevice::FirehoseTarget::crc32("123456789", 9), 0xcbf43926u); // the CRC-32 check value

    // Progress: from 0 to the plan's bytes, never backwards.
    ASSERT_FALSE(run.progress.empty());
    const uint64_t total = p.package.totalBytes();
    EXPECT_EQ(run.progress.front(), std::make_pair(uint64_t(0), total));
    EXPECT_EQ(run.progress.back(), std::make_pair(total, total));
    for (size_t i = 1; i < run.progress.size(); ++i)
        EXPECT_GE(run.progress[i].first, run.progress[i - 1].first);

    EXPECT_NE(run.messages.front().find("0x1a2b3c4d"), std::string::npos);
    EXPECT_EQ(model.zeroLengthPackets() > 0, true);
    EXPECT_EQ(model.missingZeroLengthPackets(), 0);
    EXPECT_EQ(model.oversizedPayloads(), 0);

    // Reset: normal mode again, with the revision found in the written image.
    EXPECT_EQ(model.resets(), 1);
    modemdevice::ModelLink tty(model, 0);
    AtPort port(tty);
    EXPECT_EQ(port.command("AT+CGMR", Clock::now()).value, "MDM-3.1.4");
    EXPECT_EQ(port.command("AT+CGSN", Clock::now()).value, "356938035643809");
}

TEST(ModemFlashTest, SixtyFourBitReadsSmallPayloadAndNoReset)
{
    Package p;
    modemdevice::ModuleSettings module = p.module();
    module.read64 = true;
    module.maxPayload = 16 * 1024; // configure is refused, then retried
    modemdevice::ModuleModel model(module);
    ModemFlash::Settings settings = quickSettings();
    settings.reset = false;
    settings.readChipIdentity = false;
    const FlashRun run = flash(model, p.package, settings);
    ASSERT_TRUE(run.ok) << run.failure.text;
    EXPECT_EQ(model.configures(), 2);
    EXPECT_EQ(model.payload(), 16u * 1024);
    EXPECT_EQ(model.oversizedPayloads(), 0);
    EXPECT_EQ(p.written(1, 10 * 4096, p.modem.size()), p.modem);
    EXPECT_EQ(model.resets(), 0);
    EXPECT_EQ(model.mode(), modemdevice::ModuleModel::Mode::Firehose);
    EXPECT_EQ(model.saharaHellos(), 1);
}

TEST(ModemFlashTest, FailuresSayWhy)
{
    {
        // A programmer the chip does not accept.
        Package p;
        modemdevice::ModuleSettings module = p.module();
        module.programmer[5] ^= 1;
        modemdevice::ModuleModel model(module);
        const FlashRun run = flash(model, p.package);
        EXPECT_FALSE(run.ok);
        EXPECT_EQ(run.failure.kind, ModemFailure::Kind::ProgrammerRefused);
    }
    {
        // A program the device refuses: its log is in the message, nothing after it is written.
        Package p;
        modemdevice::ModuleSettings module = p.module();
        module.failLabel = "modem";
        modemdevice::ModuleModel model(module);
        const FlashRun run = flash(model, p.package);
        EXPECT_FALSE(run.ok);
        EXPECT_EQ(run.failure.kind, ModemFailure::Kind::FirehoseNak);
        EXPECT_NE(run.failure.text.find("write protected: modem"), std::string::npos) << run.failure.text;
        EXPECT_NE(p.written(0, (4096 - 4) * 512, p.tail.size()), p.tail);
    }
    {
        // The device stops reading in the middle of the modem image.
        Package p;
        modemdevice::ModuleSettings module = p.module();
        module.stopAfter = 100 * 1024;
        modemdevice::ModuleModel model(module);
        const FlashRun run = flash(model, p.package);
        EXPECT_FALSE(run.ok);
        EXPECT_EQ(run.failure.kind, ModemFailure::Kind::Timeout);
        EXPECT_NE(run.failure.text.find("modem"), std::string::npos) << run.failure.text;
        EXPECT_LT(run.progress.back().first, p.package.totalBytes());
    }
    {
        // The module is pulled in the middle of the modem image.
        Package p;
        modemdevice::ModuleSettings module = p.module();
        module.dropAfter = 100 * 1024;
        modemdevice::ModuleModel model(module);
        const FlashRun run = flash(model, p.package);
        EXPECT_FALSE(run.ok);
        EXPECT_EQ(run.failure.kind, ModemFailure::Kind::ConnectionLost);
        EXPECT_NE(run.failure.text.find("left the bus"), std::string::npos) << run.failure.text;
    }
    {
        // Storage of another kind than the module has.
        Package p;
        modemdevice::ModuleModel model(p.module());
        ModemFlash::Settings settings = quickSettings();
        settings.storage = "ufs";
        const FlashRun run = flash(model, p.package, settings);
        EXPECT_EQ(run.failure.kind, ModemFailure::Kind::FirehoseNak);
        EXPECT_NE(run.failure.text.find("no storage of type ufs"), std::string::npos) << run.failure.text;
        settings.storage = "floppy";
        EXPECT_EQ(flash(model, p.package, settings).failure.kind, ModemFailure::Kind::BadSettings);
    }
}

TEST(ModemFlashTest, SparseImagesAreWrittenExpanded)
{
    // raw, fill, don't care, raw ending inside its last block, and a checksum chunk.
    namespace Sparse = engine::Sparse;
    constexpr uint32_t bs = 4096;
    QByteArray sparse = QByteArray::fromStdString(Sparse::fileHeader(bs, 40, 5));
    const auto chunk = [&](uint16_t type, uint32_t blocks, const QByteArray& body) {
        sparse += QByteArray::fromStdString(Sparse::chunkHeader(type, blocks, uint32_t(Sparse::kChunkHeaderSize + body.size())));
        sparse += body;
    };
    chunk(Sparse::kRaw, 3, pseudoRandomBytes(3 * bs, 11));
    chunk(Sparse::kFill, 6, QByteArray("\x01\x02\x03\x04", 4));
    chunk(Sparse::kDontCare, 20, {});
    chunk(Sparse::kRaw, 11, pseudoRandomBytes(11 * bs, 12));
    chunk(Sparse::kCrc32, 0, QByteArray(4, '\0'));
    Package p("<program SECTOR_SIZE_IN_BYTES=\"512\" filename=\"system.img\" label=\"system\" "
              "physical_partition_number=\"2\" start_sector=\"16\" sparse=\"true\"/>\n",
              {{QStringLiteral("system.img"), sparse}});
    std::string why;
    ASSERT_EQ(p.package.writes().back().bytes(), 40u * bs);
    modemdevice::ModuleModel model(p.module());
    const FlashRun run = flash(model, p.package);
    ASSERT_TRUE(run.ok) << run.failure.text;
    EXPECT_EQ(run.progress.back().first, p.package.totalBytes());

    // The written range against an independent reader of the format.
    p.dir.write("written.img", p.written(2, 16 * 512, 40 * bs));
    QProcess check;
    check.start(QStringLiteral("python3"), {QStringLiteral(STATION_TEST_SOURCE "/sparse_check.py"),
                                            p.dir.file("system.img"), p.dir.file("written.img")});
    ASSERT_TRUE(check.waitForFinished(60000));
    EXPECT_EQ(check.exitCode(), 0) << check.readAllStandardError().toStdString();
    EXPECT_EQ(p.written(2, 16 * 512 + 3 * bs, 8), QByteArray("\x01\x02\x03\x04\x01\x02\x03\x04", 8));
    EXPECT_EQ(p.written(2, 16 * 512 + 9 * bs, 20 * bs), QByteArray(20 * bs, '\0'));

    // A sparse image with a broken header is named with its line.
    p.dir.write("system.img", sparse.left(40));
    EXPECT_FALSE(FlashPackage::load(str(p.dir.path()), {}, &p.package, &why));
    EXPECT_NE(why.find("rawprogram0.xml:7: system.img: not a valid sparse image"), std::string::npos) << why;
}

#include "UsbTestbedFixture.h"

#include "FirehoseTarget.h"
#include "ModuleModel.h"
#include "QdlProcess.h"

#include "support/TempDir.h"
#include "support/TestRandom.h"
#include "support/WaitFor.h"

#include <QFile>

#include <cstdlib>

namespace {

constexpr uint64_t kDiskSectors = 65536;
constexpr int kSector = 512;

// The sectors a program of the image covers: the image, then zeros to the
// end of its last sector, as the host pads it.
QByteArray padded(const QByteArray& image)
{
    return image + QByteArray((kSector - image.size() % kSector) % kSector, '\0');
}

QByteArray readAt(const QString& file, qint64 offset, qint64 size)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly) || !f.seek(offset))
        return {};
    return f.read(size);
}

} // namespace

class QdlConformanceTest : public UsbTestbedFixture
{
protected:
    void SetUp() override
    {
        if (QdlProcess::executable().empty())
            GTEST_SKIP() << "qdl is not installed (Debian package qdl; scripts/setup-deps.sh installs it)";
        UsbTestbedFixture::SetUp();
    }
};

// A rawprogram package written by qdl into an emulated module in download
// mode: Sahara with read requests of whole and partial packets, Firehose
// configure, programs at plain and NUM_DISK_SECTORS-N. start sectors on two
// physical partitions (one without a file, which qdl leaves out), a patch
// with a NUM_DISK_SECTORS value (and one on a file, which qdl does not send),
// then the reset.
TEST_F(QdlConformanceTest, QdlWritesARawprogramPackageIntoTheEmulatedModule)
{
    TempDir package;
    TempDir storage;
    const QByteArray programmer = pseudoRandomBytes(2 * 4096 + 1808, 7);
    const QByteArray boot = pseudoRandomBytes(8192 + 100, 1);
    const QByteArray system = pseudoRandomBytes(3 * 1024 * 1024 + kSector, 2);
    const QByteArray backup = pseudoRandomBytes(16 * kSector, 3);
    const QByteArray modem = pseudoRandomBytes(70000, 4);
    package.write("prog_firehose_ddr.mbn", programmer);
    package.write("boot.img", boot);
    package.write("system.img", system);
    package.write("gpt_backup0.bin", backup);
    package.write("NON-HLOS.bin", modem);
    package.write("rawprogram0.xml", R"(<?xml version="1.0" ?>
<data>
  <program SECTOR_SIZE_IN_BYTES="512" file_sector_offset="0" filename="boot.img" label="boot"
           num_partition_sectors="32" physical_partition_number="0" start_sector="64"/>
  <program SECTOR_SIZE_IN_BYTES="512" file_sector_offset="0" filename="" label="misc"
           num_partition_sectors="8" physical_partition_number="0" start_sector="128"/>
  <program SECTOR_SIZE_IN_BYTES="512" file_sector_offset="0" filename="system.img" label="system"
           num_partition_sectors="8192" physical_partition_number="0" start_sector="4096"/>
  <program SECTOR_SIZE_IN_BYTES="512" file_sector_offset="0" filename="gpt_backup0.bin" label="BackupGPT"
           num_partition_sectors="16" physical_partition_number="0" start_sector="NUM_DISK_SECTORS-16."/>
  <program SECTOR_SIZE_IN_BYTES="512" file_sector_offset="0" filename="NON-HLOS.bin" label="modem"
           num_partition_sectors="256" physical_partition_number="1" start_sector="34"/>
</data>
)");
    package.write("patch0.xml", R"(<?xml version="1.0" ?>
<patches>
  <patch SECTOR_SIZE_IN_BYTES="512" byte_offset="32" filename="DISK" physical_partition_number="0"
         size_in_bytes="8" start_sector="1" value="NUM_DISK_SECTORS-1." what="Update last partition"/>
  <patch SECTOR_SIZE_IN_BYTES="512" byte_offset="40" filename="gpt_main0.bin" physical_partition_number="0"
         size_in_bytes="8" start_sector="1" value="12345" what="Patch a file of the package"/>
</patches>
)");

    modemdevice::ModuleSettings settings;
    settings.startInDownload = true;
    settings.programmer = programmer.toStdString();
    settings.storageDir = storage.path().toStdString();
    settings.diskSectors = kDiskSectors;
    modemdevice::ModuleModel model(settings);
    m_bed->plugModule("1-1.3", model);

    QdlProcess qdl;
    std::string why;
    const std::string output = storage.file("qdl.log").toStdString();
    ASSERT_TRUE(qdl.start({"--storage", "emmc", "--include", package.path().toStdString(),
                           package.file("prog_firehose_ddr.mbn").toStdString(),
                           package.file("rawprogram0.xml").toStdString(), package.file("patch0.xml").toStdString()},
                          std::getenv("UMOCKDEV_DIR"), output, &why))
        << why;
    const bool ended = waitFor([&] { return qdl.finished(); }, 120000);
    qdl.kill();
    const QString log = QString::fromUtf8(storage.read("qdl.log"));
    // Untouched: never opened by qdl.
    if (model.mode() == modemdevice::ModuleModel::Mode::Sahara && model.saharaHellos() == 0)
        GTEST_SKIP() << "qdl did not reach the emulated hub: " << log.toStdString();
    ASSERT_TRUE(ended) << log.toStdString();
    ASSERT_EQ(qdl.exitCode(), 0) << log.toStdString();

    const QString lun0 = storage.file("lun0.img");
    const QString lun1 = storage.file("lun1.img");
    EXPECT_EQ(readAt(lun0, 64 * kSector, 64 * kSector), padded(boot) + QByteArray(64 * kSector - padded(boot).size(), '\0'));
    EXPECT_EQ(readAt(lun0, 4096 * kSector, system.size()), system);
    EXPECT_EQ(readAt(lun0, (kDiskSectors - 16) * kSector, backup.size() + 1), backup);
    EXPECT_EQ(readAt(lun1, 34 * kSector, padded(modem).size() + 1), padded(modem));
    // The patch: the last sector's number, little-endian; the file patch is
    // not the device's business.
    QByteArray last(8, '\0');
    for (int i = 0; i < 8; ++i)
        last[i] = char(((kDiskSectors - 1) >> (8 * i)) & 0xff);
    EXPECT_EQ(readAt(lun0, kSector + 32, 16), last + QByteArray(8, '\0'));

    EXPECT_EQ(model.configures(), 1);
    EXPECT_EQ(model.payload(), 1024u * 1024u);
    EXPECT_GT(model.zeroLengthPackets(), 0);
    EXPECT_EQ(model.missingZeroLengthPackets(), 0);
    EXPECT_EQ(model.oversizedPayloads(), 0);
    EXPECT_EQ(model.resets(), 1);
}

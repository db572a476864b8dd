// The emulated device checked against Debian's fastboot command: what an
// independent host sends, sparse and split, lands in the partition whole.
#include "DeviceModel.h"
#include "TcpDeviceServer.h"

#include "support/TempDir.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

namespace {

TEST(FastbootCommandTest, SparseSplitImageFlashedByFastbootLandsWhole)
{
    const QString fastboot = QStandardPaths::findExecutable(QStringLiteral("fastboot"));
    if (fastboot.isEmpty())
        GTEST_SKIP() << "the fastboot command is missing (Debian package \"fastboot\")";

    TempDir dir;
    QByteArray image(3 * 1024 * 1024, '\0');
    uint32_t x = 99;
    for (qsizetype i = 0; i < image.size() / 2; ++i) { // the second half stays zeros
        x = x * 1103515245u + 12345u;
        image[i] = char(x >> 24);
    }
    dir.write(QStringLiteral("system.img"), image);

    fbdevice::DeviceSettings settings;
    settings.display = "ABC_V1.0";
    settings.imei = "356938035643809";
    settings.maxDownload = 1024 * 1024; // fastboot has to split the image
    settings.storageDir = QFile::encodeName(dir.file(QStringLiteral("device"))).toStdString();
    fbdevice::DeviceModel device(settings);
    fbdevice::TcpDeviceServer server(device, 0);
    std::string why;
    ASSERT_TRUE(server.start(&why)) << why;

    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(fastboot, {QStringLiteral("-s"), QStringLiteral("tcp:127.0.0.1:%1").arg(server.port()),
                             QStringLiteral("flash"), QStringLiteral("system"), dir.file(QStringLiteral("system.img"))});
    ASSERT_TRUE(process.waitForFinished(60000));
    const std::string output = process.readAll().toStdString();
    EXPECT_EQ(process.exitCode(), 0) << output;
    EXPECT_GE(device.flashCount("system"), 2) << output; // it came in pieces
    EXPECT_EQ(dir.read(QStringLiteral("device/system.img")), image);
}

} // namespace

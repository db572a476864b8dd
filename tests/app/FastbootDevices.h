#pragma once

#include "support/TempDir.h"

#include "DeviceModel.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <gtest/gtest.h>

// Packages and emulated devices for the window with the fastboot engine.
namespace FastbootDevices {

// A package of a 1 MiB system image, the version lines at linesAt, and a
// boot image, both whole blocks, so that the partitions equal them byte for
// byte. Returns the package folder.
inline QString makePackage(TempDir& station, uint32_t seed, qsizetype linesAt)
{
    QByteArray system(1024 * 1024, '\0');
    uint32_t x = seed;
    for (qsizetype i = 0; i < system.size(); ++i) {
        x = x * 1103515245u + 12345u;
        system[i] = char(x >> 24);
    }
    const QByteArray lines = "\nro.build.display.id=ABC_DE_V2.3\nro.build.sw_internal_version=ABC_DE_INT_V2.3\n";
    system.replace(linesAt, lines.size(), lines);
    station.write(QStringLiteral("fbpkg/system.img"), system);
    station.write(QStringLiteral("fbpkg/boot.img"), QByteArray(64 * 1024, '\x42'));
    return station.file(QStringLiteral("fbpkg"));
}

// Device number n (its IMEI ends in n) of the old version, keeping its
// partitions in storageDir.
inline fbdevice::DeviceSettings device(int n, const QString& storageDir)
{
    fbdevice::DeviceSettings s;
    s.display = "ABC_DE_V1.0";
    s.internal = "ABC_DE_INT_V1.0";
    s.imei = QStringLiteral("3569380356438%1").arg(n, 2, 10, QLatin1Char('0')).toStdString();
    s.maxDownload = 256 * 1024; // the system image goes in sparse pieces
    s.awayMs = 300;
    s.storageDir = QFile::encodeName(storageDir).toStdString();
    return s;
}

inline QByteArray partition(const fbdevice::DeviceModel& model, const char* name)
{
    QFile f(QString::fromStdString(model.partitionPath(name)));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// The package made by makePackage is in the device's partitions, the
// system image written in sparse pieces; n names the device in failures.
inline void expectPackageIn(const TempDir& station, const fbdevice::DeviceModel& model, int n)
{
    EXPECT_EQ(partition(model, "system"), station.read(QStringLiteral("fbpkg/system.img"))) << n;
    EXPECT_EQ(partition(model, "boot"), station.read(QStringLiteral("fbpkg/boot.img"))) << n;
    EXPECT_GE(model.flashCount("system"), 4) << n;
}

} // namespace FastbootDevices

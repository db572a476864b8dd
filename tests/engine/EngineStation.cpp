#include "engine/EngineStation.h"

#include "FlashEngine.h"
#include "lines/EventSink.h"

#include <QDir>
#include <QFile>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <thread>

EngineStation::EngineStation()
{
    const QString built = QStringLiteral(STATION_BUILD_STATION_DIR "/engines/libSimEngine.so");
    EXPECT_TRUE(QFile::copy(built, m_station.file(QStringLiteral("libPhoneFlashEngine.so")))) << built.toStdString();
    writeConfig();
}

EngineStation::~EngineStation()
{
    m_binding.Release();
    EngineBinding::SetLibraryName(QString());
}

void EngineStation::writeConfig(const QString& versionDir) const
{
    QByteArray text = "[SIM_Engine]\r\nBUS_DIR=" + QFile::encodeName(m_bus.path()) + "\r\n";
    if (!versionDir.isEmpty())
        text += "[GET_DLL_Setting]\r\nITEM_VERSIONFILE_PATH=" + QFile::encodeName(versionDir) + "\r\n";
    m_station.write(QStringLiteral("config.ini"), text);
}

QString EngineStation::makePackage(const QString& name, const QByteArray& display, const QByteArray& internal,
                                   int imageSize) const
{
    QByteArray image;
    image.reserve(imageSize + 200);
    uint32_t x = 12345;
    while (image.size() < imageSize / 2) {
        x = x * 1103515245u + 12345u;
        image.append(static_cast<char>(x >> 24));
    }
    image += "\nro.build.display.id=" + display + "\nro.build.sw_internal_version=" + internal + "\n";
    image += QByteArray(imageSize - image.size(), '\x5a');
    m_packages.write(name + QStringLiteral("/system.img"), image);
    m_packages.write(name + QStringLiteral("/boot.img"), QByteArray(100 * 1024, '\x11'));
    m_packages.write(name + QStringLiteral("/empty.bin"), {});
    QDir(m_packages.path()).mkpath(name + QStringLiteral("/nested")); // not a file: not written
    return m_packages.file(name);
}

void EngineStation::plug(int port, const QByteArray& mode, const QByteArray& extra) const
{
    m_bus.write(QStringLiteral("port-%1.ini").arg(port),
                "[Device]\nMode=" + mode + "\nDisplayVersion=ABC_V1.0\nInternalVersion=ABC_INT_V1.0\n"
                "IMEI=356938035643809\n" + extra);
}

bool EngineStation::load()
{
    EngineBinding::SetLibraryName(m_station.file(QStringLiteral("libPhoneFlashEngine.so")));
    return m_binding.Load(&handler, &window);
}

int32_t EngineStation::query(int port, std::string* text) const
{
    EngineText info{};
    const int32_t status = engine()->QueryDevice(0, port, &info);
    if (text)
        *text = info.text;
    return status;
}

bool EngineStation::download(int line, int port)
{
    const int before = handler.count('R', line);
    std::thread worker([this, line, port] { engine()->Download(line, port); });
    const bool done = QTest::qWaitFor([&] { return handler.count('R', line) > before; }, 30000);
    if (!done)
        m_binding.Sink()->Detach(); // lets a stuck worker return
    worker.join();
    return done;
}

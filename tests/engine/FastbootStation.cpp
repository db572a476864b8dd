#include "engine/FastbootStation.h"

#include "FlashEngine.h"
#include "lines/EventSink.h"

#include <QDir>
#include <QFile>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <thread>

FastbootStation::FastbootStation()
{
    const QString built = QStringLiteral(STATION_BUILD_STATION_DIR "/engines/libFastbootEngine.so");
    EXPECT_TRUE(QFile::copy(built, m_station.file(QStringLiteral("libPhoneFlashEngine.so")))) << built.toStdString();
}

FastbootStation::~FastbootStation()
{
    m_binding.Release();
    EngineBinding::SetLibraryName(QString());
    for (auto& [port, device] : m_devices)
        device.server->stop();
}

fbdevice::DeviceSettings FastbootStation::deviceSettings(int port) const
{
    fbdevice::DeviceSettings s;
    s.display = "ABC_V1.0";
    s.internal = "ABC_INT_V1.0";
    s.imei = QStringLiteral("3569380356438%1").arg(port, 2, 10, QLatin1Char('0')).toStdString();
    s.awayMs = 200;
    s.storageDir = QFile::encodeName(m_storage.file(QStringLiteral("device-%1").arg(port))).toStdString();
    return s;
}

fbdevice::DeviceModel& FastbootStation::addDevice(int port)
{
    return addDevice(port, deviceSettings(port));
}

fbdevice::DeviceModel& FastbootStation::addDevice(int port, const fbdevice::DeviceSettings& settings)
{
    Device& d = m_devices[port];
    d.server.reset();
    d.model = std::make_unique<fbdevice::DeviceModel>(settings);
    d.server = std::make_unique<fbdevice::TcpDeviceServer>(*d.model, 0);
    std::string why;
    EXPECT_TRUE(d.server->start(&why)) << why;
    d.tcpPort = d.server->port();
    writeConfig(m_extra);
    return *d.model;
}

void FastbootStation::unplug(int port)
{
    m_devices.at(port).server->stop();
}

void FastbootStation::replug(int port)
{
    Device& d = m_devices.at(port);
    d.earlierConnections += d.server->connections();
    d.server = std::make_unique<fbdevice::TcpDeviceServer>(*d.model, d.tcpPort);
    std::string why;
    EXPECT_TRUE(d.server->start(&why)) << why;
}

fbdevice::DeviceModel& FastbootStation::swap(int port, const fbdevice::DeviceSettings& settings)
{
    Device& d = m_devices.at(port);
    d.server->stop();
    d.earlierConnections += d.server->connections();
    m_retired.push_back(std::move(d.model));
    d.model = std::make_unique<fbdevice::DeviceModel>(settings);
    d.server = std::make_unique<fbdevice::TcpDeviceServer>(*d.model, d.tcpPort);
    std::string why;
    EXPECT_TRUE(d.server->start(&why)) << why;
    return *d.model;
}

int FastbootStation::connections(int port) const
{
    const Device& d = m_devices.at(port);
    return d.earlierConnections + d.server->connections();
}

bool FastbootStation::waitQuery(int port, int32_t status, const std::string& text, int timeoutMs) const
{
    return QTest::qWaitFor(
        [&] {
            std::string now;
            return query(port, &now) == status && (text.empty() || now == text);
        },
        timeoutMs);
}

void FastbootStation::writeConfig(const QByteArray& extraEngineKeys)
{
    m_extra = extraEngineKeys;
    QByteArray text = "[FASTBOOT_Engine]\r\n";
    for (const auto& [port, device] : m_devices)
        text += "PORT." + QByteArray::number(port) + "=tcp:127.0.0.1:" + QByteArray::number(device.tcpPort) + "\r\n";
    text += m_extra;
    if (!m_package.isEmpty())
        text += "[GET_DLL_Setting]\r\nITEM_VERSIONFILE_PATH=" + QFile::encodeName(m_package) + "\r\n";
    m_station.write(QStringLiteral("config.ini"), text);
}

QString FastbootStation::makePackage(const QString& name, const QByteArray& display, const QByteArray& internal,
                                     int systemSize) const
{
    QByteArray image;
    image.reserve(systemSize + 200);
    uint32_t x = 2463534242u;
    while (image.size() < systemSize / 2) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        image.append(static_cast<char>(x >> 24));
    }
    image += "\nro.build.display.id=" + display + "\nro.build.sw_internal_version=" + internal + "\n";
    if (image.size() < systemSize)
        image += QByteArray(systemSize - image.size(), '\x5a');
    m_packages.write(name + QStringLiteral("/system.img"), image);
    m_packages.write(name + QStringLiteral("/boot.img"), QByteArray(70 * 1024 + 3, '\x11'));
    return m_packages.file(name);
}

bool FastbootStation::load()
{
    EngineBinding::SetLibraryName(m_station.file(QStringLiteral("libPhoneFlashEngine.so")));
    return m_binding.Load(&handler, &window);
}

int32_t FastbootStation::query(int port, std::string* text) const
{
    EngineText info{};
    const int32_t status = engine()->QueryDevice(0, port, &info);
    if (text)
        *text = info.text;
    return status;
}

bool FastbootStation::download(int line, int port)
{
    const int before = handler.count('R', line);
    std::thread worker([this, line, port] { engine()->Download(line, port); });
    const bool done = QTest::qWaitFor([&] { return handler.count('R', line) > before; }, 60000);
    if (!done)
        m_binding.Sink()->Detach(); // lets a stuck worker return
    worker.join();
    return done;
}

int32_t FastbootStation::resultOf(int line) const
{
    const auto* r = handler.last('R', line);
    return r ? r->value : -12345;
}

std::string FastbootStation::lastMessage(int line) const
{
    const auto* m = handler.last('M', line);
    return m ? m->text : std::string();
}

#pragma once

#include "lines/EngineBinding.h"
#include "lines/RecordingHandler.h"
#include "support/TempDir.h"

#include "DeviceModel.h"
#include "TcpDeviceServer.h"

#include <QObject>

#include <map>
#include <memory>
#include <string>
#include <vector>

class FlashEngine;

// A temporary station with a copy of the built fastboot engine, emulated
// devices served in this process on loopback ports, and a package folder.
// The engine is loaded through the tool's binding and reports to a
// recording handler.
class FastbootStation final
{
public:
    FastbootStation();
    ~FastbootStation();
    FastbootStation(const FastbootStation&) = delete;
    FastbootStation& operator=(const FastbootStation&) = delete;

    // Settings of a device on a station port: versions ABC_V1.0, an IMEI
    // ending in the port number, storage in a folder of its own.
    fbdevice::DeviceSettings deviceSettings(int port) const;
    // Starts a device and maps the port number to it in config.ini.
    fbdevice::DeviceModel& addDevice(int port);
    fbdevice::DeviceModel& addDevice(int port, const fbdevice::DeviceSettings& settings);
    fbdevice::DeviceModel& device(int port) { return *m_devices.at(port).model; }
    void unplug(int port);
    void replug(int port);
    // Another unit in the same socket (the same TCP port).
    fbdevice::DeviceModel& swap(int port, const fbdevice::DeviceSettings& settings);
    // Host connections the device on the port has accepted (all its servers).
    int connections(int port) const;

    // config.ini: the ports, the version directory and extra engine keys.
    void writeConfig(const QByteArray& extraEngineKeys = {});
    void setPackage(const QString& dir) { m_package = dir; }
    // A version directory with a system.img carrying the two versions and a
    // boot.img; systemSize bytes of pseudo-random system image.
    QString makePackage(const QString& name, const QByteArray& display, const QByteArray& internal,
                        int systemSize = 600 * 1024) const;
    QString packageFile(const QString& name) const { return m_package + QLatin1Char('/') + name; }
    QString stationDir() const { return m_station.path(); }

    bool load();
    FlashEngine* engine() const { return m_binding.Engine(); }
    int32_t query(int port, std::string* text = nullptr) const;
    // Waits until the port answers status (and text, when given).
    bool waitQuery(int port, int32_t status, const std::string& text = {}, int timeoutMs = 20000) const;
    // Runs Download on a thread of its own and waits for its result event.
    bool download(int line, int port);
    int32_t resultOf(int line) const;
    std::string lastMessage(int line) const;

    RecordingHandler handler;
    QObject window;

private:
    struct Device
    {
        std::unique_ptr<fbdevice::DeviceModel> model;
        std::unique_ptr<fbdevice::TcpDeviceServer> server;
        int tcpPort = 0;
        int earlierConnections = 0; // of servers replaced since
    };

    TempDir m_station;
    TempDir m_storage;
    TempDir m_packages;
    QString m_package;
    QByteArray m_extra;
    std::map<int, Device> m_devices;
    std::vector<std::unique_ptr<fbdevice::DeviceModel>> m_retired; // units taken out by swap
    EngineBinding m_binding;
};

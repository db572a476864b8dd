#pragma once

#include "lines/EngineBinding.h"
#include "lines/RecordingHandler.h"
#include "support/TempDir.h"

#include <QObject>

#include <string>

class FlashEngine;

// A temporary station with a copy of the built engine library, its own
// config.ini and a bus in a temporary folder of its own; the engine is
// loaded through the tool's binding and reports to a recording handler.
class EngineStation final
{
public:
    EngineStation();
    ~EngineStation();
    EngineStation(const EngineStation&) = delete;
    EngineStation& operator=(const EngineStation&) = delete;

    QString stationDir() const { return m_station.path(); }
    QString busDir() const { return m_bus.path(); }
    QString busFile(const QString& name) const { return m_bus.file(name); }

    // config.ini with BUS_DIR and, when not empty, ITEM_VERSIONFILE_PATH.
    void writeConfig(const QString& versionDir = {}) const;
    // A version directory with a system.img of about imageSize bytes that
    // carries the two versions, a second image and an empty file.
    QString makePackage(const QString& name, const QByteArray& display, const QByteArray& internal,
                        int imageSize = 300 * 1024) const;
    void plug(int port, const QByteArray& mode = "READY", const QByteArray& extra = {}) const;

    bool load();
    FlashEngine* engine() const { return m_binding.Engine(); }
    EngineBinding& binding() { return m_binding; }
    int32_t query(int port, std::string* text = nullptr) const;
    // Runs Download on a thread of its own and waits, running the window's
    // event loop, for the line's result event. False on timeout.
    bool download(int line, int port);

    RecordingHandler handler;
    QObject window;

private:
    TempDir m_station;
    TempDir m_bus;
    TempDir m_packages;
    EngineBinding m_binding;
};

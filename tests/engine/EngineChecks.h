#pragma once

#include "lines/RecordingHandler.h"

#include "FlashEngine.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <algorithm>
#include <string>
#include <vector>

// What the engine tests look at: files a download wrote, messages a line
// was sent, and the ports an engine finds.
namespace EngineChecks {

// The file's bytes, or "<missing>".
inline QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

inline QByteArray readFile(const std::string& path)
{
    return readFile(QString::fromStdString(path));
}

// True when a message to line contains part.
inline bool hasMessage(const RecordingHandler& h, int line, const std::string& part)
{
    const auto all = h.of('M', line);
    return std::any_of(all.begin(), all.end(), [&](const auto& e) { return e.text.find(part) != std::string::npos; });
}

inline std::vector<int32_t> enumerate(FlashEngine* engine)
{
    std::vector<int32_t> ports(256, 0);
    int32_t count = 256;
    engine->EnumeratePorts(ports.data(), &count);
    ports.resize(size_t(count));
    return ports;
}

} // namespace EngineChecks

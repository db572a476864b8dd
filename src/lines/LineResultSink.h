#pragma once

#include "lines/DeviceInfo.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

// A line's finished download, as the line saw it.
struct LineResult
{
    int line = 0; // index 0..7
    bool passed = false;
    int engineCode = 0;
    int port = 0;
    DeviceInfo device;          // the device offered on the line
    QByteArray packageVersion;  // the package's display version
    QString lastMessage;        // the engine's last message on the line
    int elapsedSeconds = 0;
    QDateTime finishedAt;
};

// Where the lines report their results: the application counts them, keeps
// the record and sends it on. Called on the window thread, once per finished
// download, after the row shows the result.
class LineResultSink
{
public:
    virtual ~LineResultSink() = default;
    virtual void LineFinished(const LineResult& result) = 0;
};

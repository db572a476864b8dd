#pragma once

#include "platform/IniFile.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <array>

// config.ini beside the executable: section "DLOption" (LANG, RunFlag,
// DLMode, AutoStart, AutoStartDelayMs, DupImeiCheck), "GET_DLL_Setting" (ITEM_VERSIONFILE_PATH, PORTS,
// ITEM_NVFILE_PATH) and "RECORD_DB" (URL). Read key by key when needed; nothing cached here.
// Writes replace the file atomically; their result is for information only.
namespace StationConfig {

IniFile file(); // executable dir + "config.ini"

bool ReadRunFlag();
void WriteRunFlag(bool on);

// "DLOption"/"DLMode": nonzero switches the version and IMEI check off.
int ReadDLMode();
// "DLOption"/"AutoStart": nonzero starts a line by itself once its device
// has stayed ready for "AutoStartDelayMs" (default 1500, at most 60000).
bool ReadAutoStart();
int ReadAutoStartDelayMs();
// "DLOption"/"DupImeiCheck" (default 1): 0 lets a device through whose IMEI
// is that of a device on another line.
bool ReadDupImeiCheck();
// "GET_DLL_Setting"/"ITEM_VERSIONFILE_PATH", at most 4000 bytes.
QString ReadVersionPath();
bool WriteVersionPath(const QString& dir);
// "GET_DLL_Setting"/"PORTS" as written, at most 4000 bytes.
QByteArray ReadPortsText();
bool WritePorts(const std::array<int, 8>& numbers);
// "GET_DLL_Setting"/"ITEM_NVFILE_PATH" = executable dir + "NV".
bool WriteNvFilePath();
// "RECORD_DB"/"URL": the record database's connection text (a libpq
// connection string or URI), empty when the station does not send records.
QByteArray ReadRecordDbUrl();

} // namespace StationConfig

// The USB port bound to a line; number 0 = no port.
struct LinePort
{
    QString name;
    int number = 0;
};

// "PORTS": one element per comma, at most eight used; element "5" gives
// port 5 named "USB_5", an element without a nonzero number gives "NULL".
QList<LinePort> ParsePorts(const QByteArray& text);
// "%d,%d,%d,%d,%d,%d,%d,%d"
QByteArray FormatPorts(const std::array<int, 8>& numbers);
// Port Config's combo text: "NULL" (exactly) is no port, otherwise the
// leading integer after the first four characters ("USB_007" gives 7).
LinePort PortFromText(const QString& text);
// "USB_%03d"
QString PortDisplayName(int number);

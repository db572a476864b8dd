#include "settings/StationConfig.h"

#include "core/StationLines.h"

#include "platform/StationPaths.h"
#include "platform/TextCodec.h"

#include <algorithm>

namespace {

constexpr char kOptions[] = "DLOption";
constexpr char kDllSetting[] = "GET_DLL_Setting";
constexpr int kPathCapacity = 4001;

} // namespace

namespace StationConfig {

IniFile file()
{
    return IniFile(StationPaths::executableDir() + QStringLiteral("config.ini"));
}

bool ReadRunFlag()
{
    return file().readInt(kOptions, "RunFlag", 0) != 0;
}

void WriteRunFlag(bool on)
{
    file().writeText(kOptions, "RunFlag", on ? "1" : "0");
}

int ReadDLMode()
{
    return file().readInt(kOptions, "DLMode", 0);
}

bool ReadAutoStart()
{
    return file().readInt(kOptions, "AutoStart", 0) != 0;
}

int ReadAutoStartDelayMs()
{
    return std::clamp(file().readInt(kOptions, "AutoStartDelayMs", 1500), 0, 60000);
}

bool ReadDupImeiCheck()
{
    return file().readInt(kOptions, "DupImeiCheck", 1) != 0;
}

QString ReadVersionPath()
{
    return TextCodec::decode(file().readText(kDllSetting, "ITEM_VERSIONFILE_PATH", {}, kPathCapacity));
}

bool WriteVersionPath(const QString& dir)
{
    return file().writeText(kDllSetting, "ITEM_VERSIONFILE_PATH", TextCodec::encode(dir));
}

QByteArray ReadPortsText()
{
    return file().readText(kDllSetting, "PORTS", {}, kPathCapacity);
}

bool WritePorts(const std::array<int, 8>& numbers)
{
    return file().writeText(kDllSetting, "PORTS", FormatPorts(numbers));
}

bool WriteNvFilePath()
{
    return file().writeText(kDllSetting, "ITEM_NVFILE_PATH",
                            TextCodec::encode(StationPaths::executableDir() + QStringLiteral("NV")));
}

QByteArray ReadRecordDbUrl()
{
    return file().readText("RECORD_DB", "URL", {}, kPathCapacity).trimmed();
}

} // namespace StationConfig

QList<LinePort> ParsePorts(const QByteArray& text)
{
    QList<LinePort> ports;
    if (text.isEmpty())
        return ports;
    // Elements beyond the eighth bind no line and are ignored.
    const QList<QByteArray> elements = text.split(',');
    for (qsizetype i = 0; i < elements.size() && i < kLines; ++i) {
        LinePort port;
        port.number = LeadingInt(elements[i]);
        port.name = port.number != 0 ? QStringLiteral("USB_") + TextCodec::decode(elements[i])
                                     : QStringLiteral("NULL");
        ports.append(port);
    }
    return ports;
}

QByteArray FormatPorts(const std::array<int, 8>& numbers)
{
    return QString::asprintf("%d,%d,%d,%d,%d,%d,%d,%d", numbers[0], numbers[1], numbers[2],
                             numbers[3], numbers[4], numbers[5], numbers[6], numbers[7])
        .toLatin1();
}

LinePort PortFromText(const QString& text)
{
    LinePort port;
    port.name = text;
    if (text != QLatin1String("NULL"))
        port.number = LeadingInt(text.mid(4).toUtf8());
    return port;
}

QString PortDisplayName(int number)
{
    return QString::asprintf("USB_%03d", number);
}

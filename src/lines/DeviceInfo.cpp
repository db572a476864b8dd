#include "lines/DeviceInfo.h"

namespace {

// Cuts text at its first comma: the part before it goes to field, the rest
// stays. Without a comma the field is empty and the rest is the whole text.
void takeField(QByteArray& rest, QByteArray& field)
{
    const qsizetype comma = rest.indexOf(',');
    if (comma < 0) {
        field.clear();
        return;
    }
    field = rest.left(comma);
    rest = rest.mid(comma + 1);
}

} // namespace

DeviceInfo ParseDeviceInfo(const QByteArray& text)
{
    DeviceInfo info;
    QByteArray rest = text;
    takeField(rest, info.displayVersion);
    takeField(rest, info.internalVersion);
    info.imei = rest;
    return info;
}

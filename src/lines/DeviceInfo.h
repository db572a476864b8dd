#pragma once

#include <QByteArray>

// Identity of the device last seen on a line's port, as the engine reports
// it: "display,internal,IMEI". Kept as bytes; comparisons are byte-exact.
struct DeviceInfo
{
    QByteArray displayVersion;
    QByteArray internalVersion;
    QByteArray imei;
};

// Splits at the first two commas; what is left after them is the IMEI, so
// "A,B,C,D" gives A, B and "C,D", and a text without commas is all IMEI.
DeviceInfo ParseDeviceInfo(const QByteArray& text);

#pragma once

#include "records/RecordLine.h"

#include <QByteArray>
#include <QString>

// Free of the test framework, so that the crash tests' child processes can
// use it too.
namespace RecordTestFiles {

// A record of the sample package: device ABC_V1.0, package ABC_V1.1.
inline LineRecord sampleRecord(const QByteArray& imei, bool passed = true)
{
    LineRecord r;
    r.passed = passed;
    r.imei = imei;
    r.versionStem = "ABC_";
    r.deviceVersion = "ABC_V1.0";
    r.packageVersion = "ABC_V1.1";
    r.date = QStringLiteral("12/07/2026 09:35");
    return r;
}

} // namespace RecordTestFiles

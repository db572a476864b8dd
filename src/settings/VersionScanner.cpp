#include "settings/VersionScanner.h"

#include <QFile>

VersionScanner::VersionScanner(qsizetype blockSize, qsizetype valueLimit)
    : m_scan(blockSize, valueLimit)
{
}

VersionScanner::Result VersionScanner::scan(const QString& path, const std::atomic_bool* stop) const
{
    const VersionScan::Result found = m_scan.scan(QFile::encodeName(path).toStdString(), stop);
    Result result;
    result.outcome = found.outcome;
    result.displayFound = found.displayFound;
    result.internalFound = found.internalFound;
    result.displayVersion = QByteArray::fromStdString(found.displayVersion);
    result.internalVersion = QByteArray::fromStdString(found.internalVersion);
    return result;
}

#include "settings/VersionScanner.h"

#include <QFile>

namespace {

VersionScanner::Outcome outcomeOf(VersionScan::Outcome outcome)
{
    switch (outcome) {
    case VersionScan::Outcome::Stopped:
        return VersionScanner::Outcome::Stopped;
    case VersionScan::Outcome::Unreadable:
        return VersionScanner::Outcome::Unreadable;
    case VersionScan::Outcome::Complete:
        break;
    }
    return VersionScanner::Outcome::Complete;
}

} // namespace

VersionScanner::VersionScanner(qsizetype blockSize, qsizetype valueLimit)
    : m_scan(blockSize, valueLimit)
{
}

VersionScanner::Result VersionScanner::scan(const QString& path, const std::atomic_bool* stop) const
{
    const VersionScan::Result found = m_scan.scan(QFile::encodeName(path).toStdString(), stop);
    Result result;
    result.outcome = outcomeOf(found.outcome);
    result.displayFound = found.displayFound;
    result.internalFound = found.internalFound;
    result.displayVersion = QByteArray::fromStdString(found.displayVersion);
    result.internalVersion = QByteArray::fromStdString(found.internalVersion);
    return result;
}

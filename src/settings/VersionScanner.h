#pragma once

#include "core/VersionScan.h"

#include <QByteArray>
#include <QString>

#include <atomic>

// The tool's face of VersionScan (see there for the rules), taking Qt
// paths and giving Qt bytes.
class VersionScanner final
{
public:
    static constexpr qsizetype DefaultBlockSize = VersionScan::DefaultBlockSize;
    static constexpr qsizetype DefaultValueLimit = VersionScan::DefaultValueLimit;

    using Outcome = VersionScan::Outcome;

    struct Result
    {
        Outcome outcome = Outcome::Complete;
        bool displayFound = false;
        bool internalFound = false;
        QByteArray displayVersion;
        QByteArray internalVersion;
    };

    explicit VersionScanner(qsizetype blockSize = DefaultBlockSize,
                            qsizetype valueLimit = DefaultValueLimit);

    // Scans the file; stop, when given, is checked before every block.
    Result scan(const QString& path, const std::atomic_bool* stop = nullptr) const;

    qsizetype blockSize() const { return m_scan.blockSize(); }
    qsizetype valueLimit() const { return m_scan.valueLimit(); }

private:
    VersionScan m_scan;
};

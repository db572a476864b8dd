#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>

// Finds the two property lines of a version image:
//   "\nro.build.display.id=<display version>\n"
//   "\nro.build.sw_internal_version=<internal version>\n"
// A key counts only right after a line feed, so a key at offset 0 does not.
// The value is every byte after the key up to the next line feed; a carriage
// return before that line feed stays, zero bytes read as spaces. A value is
// cut at valueLimit bytes (the rest of its line is skipped); a value still
// open at the end of the file runs to the end of the file. When a key occurs
// more than once before the scan ends, the last occurrence wins.
//
// The file is read in blocks of blockSize bytes, never whole; memory is one
// block, one carried key prefix and the two values. The scan ends as soon as
// both keys have been found, or at the end of the file.
class VersionScanner final
{
public:
    static constexpr qsizetype DefaultBlockSize = 1024 * 1024;
    static constexpr qsizetype DefaultValueLimit = 4096;

    enum class Outcome {
        Complete,   // read to the end, or both keys found
        Stopped,    // asked to stop between blocks
        Unreadable, // could not be opened or a read failed
    };

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

    qsizetype blockSize() const { return m_blockSize; }
    qsizetype valueLimit() const { return m_valueLimit; }

private:
    qsizetype m_blockSize;
    qsizetype m_valueLimit;
};

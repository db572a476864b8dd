#pragma once

// What the record benchmarks share: prompts that must never be needed, and
// record number n of a run.

#include "records/RecordLine.h"
#include "records/RecordPrompts.h"

#include <cstdio>
#include <cstdlib>

namespace RecordBench {

class SilentPrompts final : public RecordPrompts
{
public:
    QString AskForRecordFile(bool) override { std::abort(); }
    QString AskForExportFile(const QString&) override { std::abort(); }
    void ShowExportResult(bool, bool) override { std::abort(); }
    void FatalError(const QString& message, int) override
    {
        std::fprintf(stderr, "fatal: %s\n", qPrintable(message));
        std::abort();
    }
};

// Every seventh record failed.
inline LineRecord lineRecord(qint64 n)
{
    LineRecord r;
    r.passed = n % 7 != 0;
    r.imei = QByteArray::number(356789000000000LL + n);
    r.versionStem = "ABC_";
    r.deviceVersion = "ABC_V1.0";
    r.packageVersion = "ABC_V1.1";
    r.date = QStringLiteral("12/07/2026 09:35");
    return r;
}

} // namespace RecordBench

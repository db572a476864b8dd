#pragma once

#include "records/RecordPrompts.h"

#include <QString>

#include <cstdio>
#include <cstdlib>

// For the child processes that crash tests kill: no prompt is expected, as
// the working copy and the record file exist, so any prompt ends the child
// with exit code 3.
class CrashChildPrompts final : public RecordPrompts
{
public:
    QString AskForRecordFile(bool) override { fail(QStringLiteral("record file")); return {}; }
    QString AskForExportFile(const QString& name) override { fail(name); return {}; }
    void ShowExportResult(bool, bool) override { fail(QStringLiteral("export result")); }
    void FatalError(const QString& message, int) override { fail(message); }

private:
    static void fail(const QString& what)
    {
        std::fprintf(stderr, "unexpected prompt: %s\n", qPrintable(what));
        std::exit(3);
    }
};

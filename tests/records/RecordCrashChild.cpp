// Appends records to a record log until it is killed, and prints the number
// of every record after the store reported it stored.
#include "records/RecordPrompts.h"
#include "records/RecordStore.h"

#include <cstdio>
#include <cstdlib>

namespace {
// No prompt is expected: the working copy and the record file exist.
class NoPrompts final : public RecordPrompts
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
} // namespace

int main(int argc, char** argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s <record file> <data dir/> <imei prefix> fast|full\n",
                     argv[0]);
        return 2;
    }
    NoPrompts prompts;
    RecordStore store(prompts, QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2]),
                      QString(), false);
    store.SeedWorkingCopy();
    store.SetFastAppend(QByteArray(argv[4]) == "fast");
    for (int n = 0; n < 100000; ++n) {
        LineRecord r;
        r.passed = true;
        r.imei = QByteArray(argv[3]) + QByteArray::number(n);
        r.versionStem = "ABC_";
        r.deviceVersion = "ABC_V1.0";
        r.packageVersion = "ABC_V1.1";
        r.date = QStringLiteral("12/07/2026 09:35");
        if (store.AppendRecord(r)) {
            std::printf("%d\n", n);
            std::fflush(stdout);
        }
    }
    return 0;
}

// Appends records to a record log until it is killed, and prints the number
// of every record after the store reported it stored.
#include "records/CrashChildPrompts.h"
#include "records/RecordStore.h"
#include "records/SampleRecord.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s <record file> <data dir/> <imei prefix> fast|full\n",
                     argv[0]);
        return 2;
    }
    CrashChildPrompts prompts;
    RecordStore store(prompts, QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2]),
                      QString(), false);
    store.SeedWorkingCopy();
    store.SetFastAppend(QByteArray(argv[4]) == "fast");
    for (int n = 0; n < 100000; ++n) {
        const LineRecord r = RecordTestFiles::sampleRecord(QByteArray(argv[3]) + QByteArray::number(n), true);
        if (store.AppendRecord(r)) {
            std::printf("%d\n", n);
            std::fflush(stdout);
        }
    }
    return 0;
}

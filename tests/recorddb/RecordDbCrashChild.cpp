// Appends records to the record log and queues them for the database as
// the tool does, and kills itself by SIGKILL at the point given:
//   after-log N      the N-th record is in the log, not yet in the outbox
//   in-commit N      inside the N-th commit of the outbox after start,
//                    before it is final
//   none N           appends N records and ends
// Prints the number of each record once both steps returned.
#include "recorddb/RecordDbLink.h"
#include "records/CrashChildPrompts.h"
#include "records/RecordStore.h"
#include "records/SampleRecord.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <thread>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 7) {
        std::fprintf(stderr, "usage: %s RECORD_FILE DATA_DIR/ STATION PREFIX after-log|in-commit|none N\n", argv[0]);
        return 2;
    }
    const QByteArray mode = argv[5];
    const int n = QByteArray(argv[6]).toInt();
    CrashChildPrompts prompts;
    RecordStore store(prompts, QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2]),
                      QString::fromLocal8Bit(argv[3]), false);
    store.SeedWorkingCopy();
    const QString dataDir = QString::fromLocal8Bit(argv[2]);
    RecordDbLink link("host=/nonexistent dbname=production", RecordDbLink::defaultOutboxPath(dataDir),
                      QString::fromLocal8Bit(argv[3]), QStringLiteral("Vintrel_RT40K_USV1.00.00"), {},
                      RecordUploader::Options{}, &store);
    // Only this thread's commits count: the uploader has a connection too.
    const std::thread::id window = std::this_thread::get_id();
    int commits = 0;
    bool started = false;
    link.setBeforeOutboxCommitHook([&] {
        if (std::this_thread::get_id() == window && started && mode == "in-commit" && ++commits == n)
            std::raise(SIGKILL);
    });
    link.start();
    // From here on, each record is one commit.
    started = true;
    const int count = mode == "none" ? n : 1000;
    for (int i = 1; i <= count; ++i) {
        const LineRecord r = RecordTestFiles::sampleRecord(QByteArray(argv[4]) + QByteArray::number(i), i % 3 != 0);
        if (!store.AppendRecord(r))
            return 4;
        if (mode == "after-log" && i == n)
            std::raise(SIGKILL);
        link.addLineResult(r, {i % 8, 3, r.passed ? 0 : 5, QStringLiteral("failed"), 30, QDateTime::currentDateTime()});
        std::printf("%d\n", i);
        std::fflush(stdout);
    }
    return mode == "none" ? 0 : 5;
}

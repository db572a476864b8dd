// The uploader as the tool runs it, to be killed: with a kill count it dies
// by SIGKILL right after the server acknowledged that many batches and
// before the outbox marks the last; without, it drains the outbox and ends.
#include "recorddb/RecordOutbox.h"
#include "recorddb/RecordUploader.h"

#include <QCoreApplication>
#include <QThread>

#include <csignal>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s OUTBOX CONNINFO KILL_AFTER_BATCHES\n", argv[0]);
        return 2;
    }
    const QString outboxPath = QString::fromLocal8Bit(argv[1]);
    const int killAfter = QByteArray(argv[3]).toInt();
    RecordUploader::Options options;
    options.batchSize = 20;
    options.firstRetry = std::chrono::milliseconds(20);
    options.idlePoll = std::chrono::milliseconds(20);
    RecordUploader uploader(outboxPath, argv[2], options, {});
    int batches = 0;
    uploader.setAfterInsertHook([&] {
        if (killAfter > 0 && ++batches == killAfter)
            std::raise(SIGKILL);
    });
    uploader.start();
    RecordOutbox outbox(outboxPath);
    if (!outbox.open(false))
        return 2;
    // Done when nothing waits; with a kill count, SIGKILL normally ends it first.
    while (outbox.pendingCount() != 0)
        QThread::msleep(5);
    uploader.stop();
    return killAfter > 0 ? 3 : 0;
}

#pragma once

#include "platform/AppendFile.h"

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

// The station's daily log for the engineers: one plain text file per day,
// "station-YYYY-MM-DD.log" in its folder, appended by a thread of its own.
// Add never waits for the disk and never fails its caller: past the queue's
// limit lines are dropped and counted, a write that fails (a full disk)
// loses its lines, and the next write that works says how many were lost.
// Files of days more than kKeepDays before the newest line are removed.
class StationLog final
{
public:
    static constexpr int kKeepDays = 30;
    static constexpr size_t kDefaultQueueLimit = 4096;

    explicit StationLog(QString folder, size_t queueLimit = kDefaultQueueLimit);
    ~StationLog(); // Stop()
    StationLog(const StationLog&) = delete;
    StationLog& operator=(const StationLog&) = delete;

    void Start();
    // From any thread: one line, stamped with time, which also names the
    // day's file. Control characters in text are replaced (Clean).
    void Add(const QDateTime& time, const QString& text);
    // Waits until every line added before the call has been written or
    // lost; false when timeout came first (or the writer never started).
    bool Flush(std::chrono::milliseconds timeout);
    // Writes what is queued, then ends the writer.
    void Stop();

    const QString& Folder() const { return m_folder; }
    // Lines dropped or lost so far.
    quint64 LostLines() const;

    static QString FileName(const QDate& day);
    // Control characters, line and paragraph separators and the marks that
    // turn the direction of text, as \xHH or \uHHHH: a device's text can
    // neither break an entry into two nor hide a part of it.
    static QString Clean(const QString& text);

private:
    struct Entry
    {
        QDate day;
        QByteArray line;
    };

    void Run();
    // Returns how many of the batch's lines were lost.
    size_t Write(const std::vector<Entry>& batch);
    bool OpenDay(const QDate& day);
    void Prune(const QDate& newest);

    const QString m_folder;
    const size_t m_limit;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_written;
    std::vector<Entry> m_queue; // under m_mutex, as are the counts
    quint64 m_added = 0;        // lines queued or dropped
    quint64 m_done = 0;         // of those, written or lost
    quint64 m_lost = 0;
    bool m_stop = false;
    std::thread m_thread;

    // The writer thread's own.
    AppendFile m_file;
    QDate m_fileDay;
    QDate m_prunedFor;
    quint64 m_lostTold = 0;
    QString m_lastError;
};

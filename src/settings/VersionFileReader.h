#pragma once

#include "core/FileStamp.h"
#include "settings/VersionScanner.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

// Reads the display and internal versions of the version directory's
// "system.img" on a thread of its own, and reads again when a directory is
// chosen. Directory and versions are shared with the window thread and the
// line workers under one mutex; every getter returns a whole copy.
//
// When there is nothing to do the thread sleeps: with both versions known
// until the next choice; with the file missing, unreadable or without the
// internal version, it looks again every lookAgain interval. A file that was
// read to its end without the internal version is read again only once it
// has changed (size, time or identity).
class VersionFileReader final
{
public:
    struct Timing
    {
        std::chrono::milliseconds lookAgain{1000};
        std::chrono::milliseconds afterOpenFailure{10000};
    };

    VersionFileReader();
    explicit VersionFileReader(const Timing& timing, VersionScanner scanner = VersionScanner());
    ~VersionFileReader(); // stops and joins the thread
    VersionFileReader(const VersionFileReader&) = delete;
    VersionFileReader& operator=(const VersionFileReader&) = delete;

    // Called on the reader's thread when the version file exists but cannot
    // be read; returns when the operator has dismissed the message. It must
    // not wait for a thread that is stopping this reader. Set before start().
    void setOpenFailureHandler(std::function<void()> handler);

    void start();
    void stop();

    // The directory from the configuration, set before start().
    void setDirectory(const QString& dir);
    // A confirmed choice: stores the directory, empties both versions, stops a
    // running scan and has the new file read at once, also for the same dir.
    void chooseDirectory(const QString& dir);

    QString directory() const;
    QByteArray displayVersion() const;
    QByteArray internalVersion() const;

    // Returns the internal version as soon as it is known, or what is known
    // (possibly empty) once the timeout has passed or the reader stops.
    QByteArray waitForInternalVersion(std::chrono::milliseconds timeout) const;

    static QString versionFilePath(const QString& dir);

private:
    enum class Pause { UntilChoice, LookAgain, AfterFailure };

    // What identifies one state of a file's content, as far as stat tells.
    void run();
    Pause runCycle(const QString& dir, std::uint64_t generation);
    Pause storeResult(const VersionScanner::Result& result, std::uint64_t generation);
    void pause(std::unique_lock<std::mutex>& lock, Pause how);

    const Timing m_timing;
    const VersionScanner m_scanner;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;          // the reader: choice or stop
    mutable std::condition_variable m_found; // waiters for the internal version
    QString m_directory;
    QByteArray m_displayVersion;
    QByteArray m_internalVersion;
    bool m_rescan = false;
    bool m_stopping = false;
    std::uint64_t m_generation = 0; // counts choices; older scans are dropped
    std::function<void()> m_openFailureHandler;

    std::atomic_bool m_stopScan{false};
    std::thread m_thread;

    // Reader thread only: the file last read to its end without the
    // internal version, so an unchanged file is not read over and over.
    std::uint64_t m_fruitlessGeneration = 0;
    FileStamp m_fruitlessStamp;
    bool m_haveFruitless = false;
};

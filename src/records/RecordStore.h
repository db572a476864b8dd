#pragma once

#include "platform/FileState.h"
#include "records/Rc4.h"
#include "records/RecordLine.h"

#include <QString>

#include <mutex>
#include <optional>

class RecordPrompts;

// The encrypted download record log of the station: a working copy seeded
// from the installed record file, its plain scratch copy, and the export.
//
// Every file the store writes is replaced atomically or appended in place and
// cut back on failure, so a crash or a full disk leaves the old log whole.
// While both files are as the store last left them, a record is appended in
// place with the keystream kept from the end of the file; otherwise the whole
// log is decrypted, extended and encrypted again.
//
// Only the window thread calls the store. A message box may let a handler
// re-enter it on that thread: the lock is recursive, and a call that comes in
// while an operation is under way is refused (returns false) instead of
// interleaving with it.
class RecordStore final
{
public:
    // Asks nothing: the owner calls SeedWorkingCopy() right after.
    RecordStore(RecordPrompts& prompts, QString recordFilePath, QString dataDir, QString stationId,
                bool chinese);
    ~RecordStore();
    RecordStore(const RecordStore&) = delete;
    RecordStore& operator=(const RecordStore&) = delete;

    // When there is no working copy yet, makes one from the record file
    // (LocateRecordFile); false when there is none after all.
    bool SeedWorkingCopy();
    // Makes sure a working copy can be made, asking the operator for the
    // record file when it is missing; false when the operator cancels.
    bool LocateRecordFile();
    // Decrypts the working copy into the scratch file and keeps the lock.
    bool OpenLog();
    // Encrypts the scratch file back and releases the lock.
    bool CloseLog();
    bool AppendRecord(const LineRecord& record);
    // Writes the whole plain log to a file that the operator names.
    bool ExportRecords();

    QString ProposedExportName() const;
    const QString& RecordFilePath() const { return m_recordFilePath; }
    const QString& WorkingCopyPath() const { return m_workingCopyPath; }
    const QString& ScratchPath() const { return m_scratchPath; }

    // Removes temporary files that a killed writer left beside the log.
    // Only the station's one running instance may call it: another
    // instance's write in progress would lose its temporary file.
    void RemoveStaleTemporaries() const;

    // Where the last AppendRecord that succeeded put its line in the plain
    // log (byte offsets of its start and of its end, line end included) and
    // the line without its line end.
    struct Appended
    {
        qint64 offset = -1;
        qint64 end = -1;
        QByteArray line;
    };
    const Appended& LastAppended() const { return m_lastAppended; }
    // The plain log from offset on, decrypted from the working copy, and
    // the log's whole size; false when there is no working copy or an
    // operation is under way.
    bool ReadLogFrom(qint64 offset, QByteArray* tail, qint64* size);
    // The plain log's size in bytes (the working copy's); -1 without one.
    qint64 LogSize() const;

    // Off: every record takes the full decrypt and encrypt.
    void SetFastAppend(bool enabled) { m_fastAppend = enabled; }

private:
    bool isAsLastLeft() const;
    bool appendInPlace(const QByteArray& line);
    void noteAppended(qint64 offset, const QByteArray& line);
    bool appendFull(const QByteArray& line);
    bool closeLog(off_t restoreSize);
    void rebuildScratch();
    void remember(const Rc4& endState);
    void forget();

    RecordPrompts& m_prompts;
    bool m_chinese;
    std::recursive_mutex m_lock;
    bool m_busy = false;
    QString m_recordFilePath;
    QString m_scratchPath;
    QString m_workingCopyPath;
    QString m_stationId;
    int m_logFd = -1;

    bool m_fastAppend = true;
    // What the store last left behind, and the keystream at its end.
    std::optional<FileState::Stamp> m_workingStamp;
    std::optional<FileState::Stamp> m_scratchStamp;
    Rc4 m_endState{QByteArray()};
    Appended m_lastAppended;
};

#include "records/RecordStore.h"

#include "platform/AtomicFile.h"
#include "core/FileOps.h"
#include "platform/FileState.h"
#include "records/RecordCipher.h"
#include "records/RecordPrompts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <utility>

namespace {
const QByteArray kPassPhrase = "7391";
constexpr qint64 kCopyChunk = 64 * 1024;

// Replaces target with a copy of source; false when nothing was replaced.
bool copyFileAtomically(const QString& source, const QString& target)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    AtomicFile out(target);
    if (!out.open())
        return false;
    QByteArray buffer(kCopyChunk, Qt::Uninitialized);
    for (;;) {
        const qint64 count = in.read(buffer.data(), kCopyChunk);
        if (count < 0)
            return false;
        if (count == 0)
            break;
        if (!out.append(buffer.constData(), count))
            return false;
    }
    return out.commit();
}

// What has to come before a new line so that it starts a line of its own:
// a log cut short by a power loss is closed, nothing of it is deleted.
QByteArray lineEndNeeded(int fd, off_t size)
{
    if (size <= 0)
        return {};
    char last = 0;
    if (!FileState::byteAt(fd, size - 1, &last))
        return "\r\n";
    if (last == '\n')
        return {};
    return last == '\r' ? "\n" : "\r\n";
}

bool appendSynced(int fd, const QByteArray& bytes)
{
    return FileOps::writeAll(fd, bytes.constData(), size_t(bytes.size())) == bytes.size()
        && FileOps::fdatasync(fd) == 0;
}

void cutBack(int fd, off_t size)
{
    FileOps::ftruncate(fd, size);
    FileOps::fdatasync(fd);
}

} // namespace

RecordStore::RecordStore(RecordPrompts& prompts, QString recordFilePath, QString dataDir,
                         QString stationId, bool chinese)
    : m_prompts(prompts)
    , m_chinese(chinese)
    , m_recordFilePath(std::move(recordFilePath))
    , m_scratchPath(dataDir + QStringLiteral("rqvtcsv123.txt"))
    , m_workingCopyPath(dataDir + QStringLiteral("rqvtcsv123.ds.dll"))
    , m_stationId(std::move(stationId))
{
}

bool RecordStore::SeedWorkingCopy()
{
    return QFileInfo::exists(m_workingCopyPath) || LocateRecordFile();
}

RecordStore::~RecordStore()
{
    if (m_logFd >= 0) {
        FileOps::close(m_logFd);
        m_logFd = -1;
        m_busy = false;
        m_lock.unlock();
    }
}

// A process killed while it replaced the log leaves its temporary file
// behind; the caller is the station's only instance, so none is in use.
void RecordStore::RemoveStaleTemporaries() const
{
    for (const QString& path : {m_workingCopyPath, m_scratchPath}) {
        const QFileInfo info(path);
        QDir dir = info.absoluteDir();
        const QStringList stale = dir.entryList({info.fileName() + QStringLiteral(".tmp-*")},
                                                QDir::Files | QDir::Hidden | QDir::System);
        for (const QString& name : stale)
            dir.remove(name);
    }
}

bool RecordStore::LocateRecordFile()
{
    if (!QFileInfo::exists(m_recordFilePath)) {
        const QString chosen = m_prompts.AskForRecordFile(m_chinese);
        if (chosen.isEmpty())
            return false;
        m_recordFilePath = chosen;
    }
    // A failed copy shows up as a missing working copy in OpenLog.
    const std::lock_guard guard(m_lock);
    if (!m_busy) {
        copyFileAtomically(m_recordFilePath, m_workingCopyPath);
        forget();
    }
    return true;
}

bool RecordStore::OpenLog()
{
    m_lock.lock();
    if (m_busy) {
        m_lock.unlock();
        return false;
    }
    m_busy = true;
    RecordCipher cipher(m_prompts);
    Rc4 endState(QByteArray{});
    if (cipher.DecryptToScratch(m_scratchPath, m_workingCopyPath, kPassPhrase, &endState))
        m_logFd = FileState::openAppend(m_scratchPath, true);
    if (m_logFd < 0) {
        forget();
        m_busy = false;
        m_lock.unlock();
        return false;
    }
    return true;
}

bool RecordStore::CloseLog()
{
    return closeLog(-1);
}

// restoreSize >= 0: the scratch file was extended from that size, and is cut
// back when the working copy could not be written.
bool RecordStore::closeLog(off_t restoreSize)
{
    if (m_logFd < 0)
        return false;
    RecordCipher cipher(m_prompts);
    Rc4 endState(QByteArray{});
    const bool written =
        cipher.EncryptFromScratch(m_scratchPath, m_workingCopyPath, kPassPhrase, &endState);
    if (!written && restoreSize >= 0)
        cutBack(m_logFd, restoreSize);
    FileOps::close(m_logFd);
    m_logFd = -1;
    if (written)
        remember(endState);
    else
        forget();
    m_busy = false;
    m_lock.unlock();
    return written;
}

bool RecordStore::AppendRecord(const LineRecord& record)
{
    if (!QFileInfo::exists(m_workingCopyPath) && !LocateRecordFile())
        return false;
    m_lastAppended = {};
    const QByteArray line =
        FormatRecordLine(record, m_stationId.toUtf8(), QDateTime::currentDateTime());
    if (m_fastAppend && isAsLastLeft())
        return appendInPlace(line);
    return appendFull(line);
}

bool RecordStore::appendFull(const QByteArray& line)
{
    if (!OpenLog())
        return false;
    const off_t oldSize = FileState::sizeOf(m_logFd);
    const QByteArray lineEnd = oldSize < 0 ? QByteArray() : lineEndNeeded(m_logFd, oldSize);
    if (oldSize < 0 || !appendSynced(m_logFd, lineEnd + line)) {
        if (oldSize >= 0)
            cutBack(m_logFd, oldSize);
        // Nothing new to encrypt: the working copy is left as it was.
        FileOps::close(m_logFd);
        m_logFd = -1;
        forget();
        m_busy = false;
        m_lock.unlock();
        return false;
    }
    if (!closeLog(oldSize))
        return false;
    noteAppended(qint64(oldSize) + lineEnd.size(), line);
    return true;
}

void RecordStore::noteAppended(qint64 offset, const QByteArray& line)
{
    m_lastAppended = {offset, offset + line.size(), line.endsWith("\r\n") ? line.chopped(2) : line};
}

qint64 RecordStore::LogSize() const
{
    const QFileInfo info(m_workingCopyPath);
    return info.exists() ? info.size() : -1;
}

bool RecordStore::ReadLogFrom(qint64 offset, QByteArray* tail, qint64* size)
{
    const std::lock_guard guard(m_lock);
    if (m_busy)
        return false;
    QFile file(m_workingCopyPath);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    *size = file.size();
    offset = std::clamp<qint64>(offset, 0, *size);
    Rc4 rc4(RecordCipher::KeyFor(kPassPhrase));
    rc4.skip(offset);
    if (!file.seek(offset))
        return false;
    *tail = file.readAll();
    if (tail->size() != *size - offset)
        return false;
    rc4.apply(*tail);
    return true;
}

bool RecordStore::isAsLastLeft() const
{
    return m_workingStamp && m_scratchStamp && FileState::stampOf(m_workingCopyPath) == m_workingStamp
        && FileState::stampOf(m_scratchPath) == m_scratchStamp;
}

bool RecordStore::appendInPlace(const QByteArray& line)
{
    const std::lock_guard guard(m_lock);
    if (m_busy)
        return false;
    const int working = FileState::openAppend(m_workingCopyPath, false);
    const int scratch = FileState::openAppend(m_scratchPath, true);
    if (working < 0 || scratch < 0) {
        if (working >= 0)
            FileOps::close(working);
        if (scratch >= 0)
            FileOps::close(scratch);
        forget();
        return appendFull(line);
    }

    const QByteArray lineEnd = lineEndNeeded(scratch, m_scratchStamp->size);
    const qint64 offset = qint64(m_scratchStamp->size) + lineEnd.size();
    const QByteArray plain = lineEnd + line;
    QByteArray encrypted = plain;
    Rc4 endState = m_endState;
    endState.apply(encrypted);

    // The working copy is the log: once it holds the line, the record is
    // stored, and a scratch file that fails is rebuilt from it.
    bool stored = appendSynced(working, encrypted);
    if (!stored)
        cutBack(working, m_workingStamp->size);
    const bool scratchWritten = stored && appendSynced(scratch, plain);
    if (stored && !scratchWritten)
        cutBack(scratch, m_scratchStamp->size);
    FileOps::close(working);
    FileOps::close(scratch);

    if (scratchWritten) {
        remember(endState);
    } else {
        forget();
        if (stored)
            rebuildScratch();
    }
    if (stored)
        noteAppended(offset, line);
    return stored;
}

void RecordStore::rebuildScratch()
{
    m_busy = true;
    Rc4 endState(QByteArray{});
    RecordCipher cipher(m_prompts);
    const bool rebuilt =
        cipher.DecryptToScratch(m_scratchPath, m_workingCopyPath, kPassPhrase, &endState);
    m_busy = false;
    if (rebuilt)
        remember(endState);
}

void RecordStore::remember(const Rc4& endState)
{
    m_workingStamp = FileState::stampOf(m_workingCopyPath);
    m_scratchStamp = FileState::stampOf(m_scratchPath);
    m_endState = endState;
    // Both files must have the same length, or the keystream would not fit.
    if (!m_workingStamp || !m_scratchStamp || m_workingStamp->size != m_scratchStamp->size)
        forget();
}

void RecordStore::forget()
{
    m_workingStamp.reset();
    m_scratchStamp.reset();
}

QString RecordStore::ProposedExportName() const
{
    return (m_stationId.isEmpty() ? QStringLiteral("Default") : m_stationId)
        + QStringLiteral(".csv");
}

bool RecordStore::ExportRecords()
{
    if (!QFileInfo::exists(m_workingCopyPath) && !LocateRecordFile())
        return false;

    const QString target = m_prompts.AskForExportFile(ProposedExportName());
    if (target.isEmpty())
        return false;

    if (!OpenLog()) {
        m_prompts.ShowExportResult(false, m_chinese);
        return false;
    }
    CloseLog();
    if (!copyFileAtomically(m_scratchPath, target)) {
        m_prompts.ShowExportResult(false, m_chinese);
        return false;
    }
    m_prompts.ShowExportResult(true, m_chinese);
    return true;
}

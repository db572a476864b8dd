#pragma once

#include "core/AtomicWriter.h"

#include <QByteArray>
#include <QString>

// The tool's face of AtomicWriter, taking Qt paths and bytes. Replaces a file
// atomically: the new content goes to a temporary file
// "<name>.tmp-XXXXXX" in the same folder, every write is checked, then
// fdatasync, rename over the old file and fsync of the folder. Until the
// rename the old file stays whole, so a crash leaves the old or the new file
// and never a mix. All system calls go through FileOps, so tests can fail
// any of them.
//
// The new file keeps the permission bits of the file it replaces; a new
// file gets 0644 (station files are shared settings, not secrets). A path
// that is a symbolic link has its target replaced and the link kept.
class AtomicFile final
{
public:
    // Writes the whole content. On false no temporary file is left behind
    // and an errno-style code is in *error when given. The old file is
    // unchanged on every failure except the last step: when only the fsync
    // of the folder fails, the new content is in place but the rename may
    // not survive a power cut, and that is reported as a failure too.
    static bool replace(const QString& path, const QByteArray& content, int* error = nullptr);

    // Streams content in: open(), append() any number of times, commit().
    // Destruction without commit() removes the temporary file. Once a step
    // has failed, every later step fails too.
    explicit AtomicFile(QString path);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    bool open();
    bool append(const char* data, qint64 size);
    bool commit();
    int error() const;

private:
    AtomicWriter m_writer;
};

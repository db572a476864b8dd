#pragma once

#include <QByteArray>
#include <QString>

// Replaces a file atomically: the new content goes to a temporary file in the
// same folder, every write is checked, then fdatasync, rename over the old
// file and fsync of the folder. Until the rename the old file stays whole.
// All system calls go through FileOps, so tests can fail any of them.
class AtomicFile final
{
public:
    // Writes the whole content. On false the old file is unchanged and no
    // temporary file is left behind; errno-style code in *error when given.
    static bool replace(const QString& path, const QByteArray& content, int* error = nullptr);

    // Streams content in: open(), append() any number of times, commit().
    // Destruction without commit() removes the temporary file.
    explicit AtomicFile(QString path);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    bool open();
    bool append(const char* data, qint64 size);
    bool commit();
    int error() const { return m_error; }

private:
    void discard();

    QString m_path;
    QByteArray m_tempPath;
    int m_fd = -1;
    int m_error = 0;
};

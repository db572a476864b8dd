#pragma once

#include <QByteArray>
#include <QString>

// A text file that only grows, such as a day's log: every write goes to the
// end of the file, also when another process appends to it at the same time.
// No sync: what it holds is for reading, not a station's record.
class AppendFile final
{
public:
    AppendFile() = default;
    ~AppendFile();
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;

    // Opens path for appending, creating it (mode 0644) and its folder when
    // missing; closes a file opened before. False with errorText() set.
    bool open(const QString& path);
    bool isOpen() const { return m_fd >= 0; }
    // All of bytes, or false with errorText() set (a full disk may have
    // taken a part of them).
    bool append(const QByteArray& bytes);
    void close();
    // The system's text of the last failure.
    const QString& errorText() const { return m_error; }

private:
    bool failed();

    int m_fd = -1;
    QString m_error;
};

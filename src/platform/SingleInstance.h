#pragma once

#include <QString>

// One running instance per station: an exclusive, non-blocking flock on the
// lock file "<name>.lock" in StationPaths::runtimeDir(), name being the
// version label. The lock goes with the process (or with release()). The
// lock is held per open file, so two objects in one process conflict too.
class SingleInstance final
{
public:
    explicit SingleInstance(const QString& name);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // True when another holder has the lock. When the lock file cannot be
    // made at all, runs as the first instance without a lock.
    bool alreadyRunning();
    bool holdsLock() const { return m_fd >= 0; }
    void release();

    const QString& lockFilePath() const { return m_path; }

private:
    QString m_path;
    int m_fd = -1;
};

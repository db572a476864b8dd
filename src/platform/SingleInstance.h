#pragma once

#include <QString>

// One running instance per station: an exclusive, non-blocking flock on a
// lock file named after the version label. The lock goes with the process.
class SingleInstance final
{
public:
    explicit SingleInstance(const QString& name);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // True when another process holds the lock. When the lock file cannot be
    // made at all, runs as the first instance without a lock.
    bool alreadyRunning();
    bool holdsLock() const { return m_fd >= 0; }
    void release();

private:
    QString m_path;
    int m_fd = -1;
};

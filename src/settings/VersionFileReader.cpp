#include "settings/VersionFileReader.h"

#include <QFile>

VersionFileReader::VersionFileReader()
    : VersionFileReader(Timing{})
{
}

VersionFileReader::VersionFileReader(const Timing& timing, VersionScanner scanner)
    : m_timing(timing), m_scanner(scanner)
{
}

VersionFileReader::~VersionFileReader()
{
    stop();
}

void VersionFileReader::setOpenFailureHandler(std::function<void()> handler)
{
    const std::lock_guard lock(m_mutex);
    m_openFailureHandler = std::move(handler);
}

void VersionFileReader::start()
{
    const std::lock_guard lock(m_mutex);
    if (m_thread.joinable() || m_stopping)
        return;
    m_thread = std::thread([this] { run(); });
}

void VersionFileReader::stop()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_stopScan = true;
    }
    m_wake.notify_all();
    m_found.notify_all();
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id())
        m_thread.join();
}

void VersionFileReader::setDirectory(const QString& dir)
{
    const std::lock_guard lock(m_mutex);
    m_directory = dir;
}

void VersionFileReader::chooseDirectory(const QString& dir)
{
    {
        const std::lock_guard lock(m_mutex);
        m_directory = dir;
        // Both go: the new package may lack a line, and the old package's
        // version must not be shown or recorded for it.
        m_displayVersion.clear();
        m_internalVersion.clear();
        ++m_generation;
        m_rescan = true;
        m_stopScan = true;
    }
    m_wake.notify_all();
}

QString VersionFileReader::directory() const
{
    const std::lock_guard lock(m_mutex);
    return m_directory;
}

QByteArray VersionFileReader::displayVersion() const
{
    const std::lock_guard lock(m_mutex);
    return m_displayVersion;
}

QByteArray VersionFileReader::internalVersion() const
{
    const std::lock_guard lock(m_mutex);
    return m_internalVersion;
}

QByteArray VersionFileReader::waitForInternalVersion(std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_mutex);
    m_found.wait_for(lock, timeout, [this] { return m_stopping || !m_internalVersion.isEmpty(); });
    return m_internalVersion;
}

QString VersionFileReader::versionFilePath(const QString& dir)
{
    return dir + QStringLiteral("/system.img");
}

void VersionFileReader::run()
{
    std::unique_lock lock(m_mutex);
    while (!m_stopping) {
        m_rescan = false;
        m_stopScan = false;
        const QString dir = m_directory;
        const std::uint64_t generation = m_generation;
        lock.unlock();
        const Pause how = runCycle(dir, generation);
        lock.lock();
        pause(lock, how);
    }
}

VersionFileReader::Pause VersionFileReader::runCycle(const QString& dir, std::uint64_t generation)
{
    const QString path = versionFilePath(dir);
    const std::optional<FileStamp> stamp = FileStamp::of(QFile::encodeName(path).toStdString());
    if (!stamp)
        return Pause::LookAgain; // not there yet
    if (m_haveFruitless && m_fruitlessGeneration == generation && m_fruitlessStamp == *stamp)
        return Pause::LookAgain;

    const VersionScanner::Result result = m_scanner.scan(path, &m_stopScan);
    switch (result.outcome) {
    case VersionScanner::Outcome::Stopped:
        return Pause::UntilChoice; // a choice or stop is pending
    case VersionScanner::Outcome::Unreadable: {
        std::function<void()> handler;
        {
            const std::lock_guard lock(m_mutex);
            if (generation != m_generation || m_stopping)
                return Pause::UntilChoice; // that file is no longer wanted
            handler = m_openFailureHandler;
        }
        if (handler)
            handler();
        return Pause::AfterFailure;
    }
    case VersionScanner::Outcome::Complete:
        break;
    }
    const Pause how = storeResult(result, generation);
    m_haveFruitless = how == Pause::LookAgain;
    m_fruitlessGeneration = generation;
    m_fruitlessStamp = *stamp;
    return how;
}

VersionFileReader::Pause VersionFileReader::storeResult(const VersionScanner::Result& result,
                                                        std::uint64_t generation)
{
    {
        const std::lock_guard lock(m_mutex);
        if (generation != m_generation)
            return Pause::UntilChoice; // read for a directory no longer chosen
        m_displayVersion = result.displayVersion;
        m_internalVersion = result.internalVersion;
    }
    if (result.internalVersion.isEmpty())
        return Pause::LookAgain;
    m_found.notify_all();
    return Pause::UntilChoice;
}

void VersionFileReader::pause(std::unique_lock<std::mutex>& lock, Pause how)
{
    const auto woken = [this] { return m_stopping || m_rescan; };
    switch (how) {
    case Pause::UntilChoice:
        m_wake.wait(lock, woken);
        break;
    case Pause::LookAgain:
        m_wake.wait_for(lock, m_timing.lookAgain, woken);
        break;
    case Pause::AfterFailure:
        m_wake.wait_for(lock, m_timing.afterOpenFailure, woken);
        break;
    }
}

#pragma once

#include <QString>

#include <cstdint>
#include <mutex>

// The two pairs of download counters and the time of the last clear, kept in
// the counters file (section "CountsInfo") and formatted for the window.
class PassCounters final
{
public:
    explicit PassCounters(QString countersFilePath);

    // Creates the file when missing (four zeros and clockText as the clear
    // time), reads it and sets the displays. Takes no lock.
    void LoadCounters(const QString& clockText);
    // One finished download, or a clear of the current pair at clockText;
    // then reloads. Increments start from the values of the last load.
    void UpdateCounters(bool passed, bool clear, const QString& clockText);

    QString CumulativeDisplay() const { return m_cumulativeDisplay; }
    QString CurrentDisplay() const { return m_currentDisplay; }
    QString ClearTimeDisplay() const { return m_clearTimeDisplay; }

    std::uint32_t Total() const { return m_total; }
    std::uint32_t Successes() const { return m_successes; }
    std::uint32_t CurrentTotal() const { return m_currentTotal; }
    std::uint32_t CurrentSuccesses() const { return m_currentSuccesses; }

    const QString& CountersFilePath() const { return m_path; }

private:
    QString m_path;
    std::mutex m_lock;
    std::uint32_t m_total = 0;
    std::uint32_t m_successes = 0;
    std::uint32_t m_currentTotal = 0;
    std::uint32_t m_currentSuccesses = 0;
    QString m_cumulativeDisplay;
    QString m_currentDisplay;
    QString m_clearTimeDisplay;
};

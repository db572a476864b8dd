#include "records/PassCounters.h"

#include "platform/IniFile.h"

#include <utility>

namespace {
const QByteArray kSection = "CountsInfo";
const QByteArray kTotal = "TotalCounts";
const QByteArray kSuccesses = "SuccessCounts";
const QByteArray kCurrentTotal = "NowTotalCounts";
const QByteArray kCurrentSuccesses = "NowSuccessCounts";
const QByteArray kClearTime = "ClearTime";
// The clear time holds at most 19 characters.
constexpr int kClearTimeCapacity = 20;

// An unsigned decimal at the start of the value; anything else reads as 0.
std::uint32_t readCount(const IniFile& ini, const QByteArray& key)
{
    const QByteArray text = ini.readText(kSection, key).trimmed();
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            break;
        value = value * 10 + std::uint64_t(c - '0');
        if (value > UINT32_MAX)
            return UINT32_MAX;
    }
    return std::uint32_t(value);
}

QByteArray countText(std::uint32_t value)
{
    return QByteArray::number(value);
}

QString pairDisplay(std::uint32_t successes, std::uint32_t total)
{
    return QString::asprintf("%u/%u", successes, total);
}
} // namespace

PassCounters::PassCounters(QString countersFilePath)
    : m_path(std::move(countersFilePath))
{
}

void PassCounters::LoadCounters(const QString& clockText)
{
    const IniFile ini(m_path);
    if (!ini.exists()) {
        // Write failures are ignored: the defaults then read as zeros.
        ini.writeText(kSection, kSuccesses, "0");
        ini.writeText(kSection, kTotal, "0");
        ini.writeText(kSection, kCurrentSuccesses, "0");
        ini.writeText(kSection, kCurrentTotal, "0");
        ini.writeText(kSection, kClearTime, clockText.toUtf8());
    }
    m_successes = readCount(ini, kSuccesses);
    m_total = readCount(ini, kTotal);
    m_currentSuccesses = readCount(ini, kCurrentSuccesses);
    m_currentTotal = readCount(ini, kCurrentTotal);
    m_currentDisplay = pairDisplay(m_currentSuccesses, m_currentTotal);
    m_cumulativeDisplay = pairDisplay(m_successes, m_total);

    const QString clearTime =
        QString::fromUtf8(ini.readText(kSection, kClearTime, {}, kClearTimeCapacity));
    m_clearTimeDisplay = clearTime.size() >= 2 ? clearTime : QStringLiteral("00/00/0000 00:00:00");
}

void PassCounters::UpdateCounters(bool passed, bool clear, const QString& clockText)
{
    const std::lock_guard guard(m_lock);
    const IniFile ini(m_path);
    if (clear) {
        ini.writeText(kSection, kCurrentSuccesses, "0");
        ini.writeText(kSection, kCurrentTotal, "0");
        ini.writeText(kSection, kClearTime, clockText.toUtf8());
    } else {
        ini.writeText(kSection, kCurrentTotal, countText(m_currentTotal + 1));
        ini.writeText(kSection, kTotal, countText(m_total + 1));
        if (passed) {
            ini.writeText(kSection, kCurrentSuccesses, countText(m_currentSuccesses + 1));
            ini.writeText(kSection, kSuccesses, countText(m_successes + 1));
        }
    }
    LoadCounters(clockText);
}

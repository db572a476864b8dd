#include "lines/StationLog.h"

#include "core/FileOps.h"
#include "platform/TextCodec.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

StationLog::StationLog(QString folder, size_t queueLimit)
    : m_folder(folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/'))
    , m_limit(queueLimit)
{
}

StationLog::~StationLog()
{
    Stop();
}

void StationLog::Start()
{
    if (!m_thread.joinable())
        m_thread = std::thread([this] { Run(); });
}

void StationLog::Stop()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

QString StationLog::FileName(const QDate& day)
{
    return QStringLiteral("station-%1.log").arg(day.toString(QStringLiteral("yyyy-MM-dd")));
}

QString StationLog::Clean(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar ch : text) {
        const char16_t u = ch.unicode();
        const bool hidden = ch.category() == QChar::Other_Control || ch.category() == QChar::Separator_Line
            || ch.category() == QChar::Separator_Paragraph || (u >= 0x202a && u <= 0x202e)
            || (u >= 0x2066 && u <= 0x2069) || u == 0x200e || u == 0x200f;
        if (!hidden)
            out += ch;
        else if (u < 0x100)
            out += QStringLiteral("\\x%1").arg(int(u), 2, 16, QLatin1Char('0'));
        else
            out += QStringLiteral("\\u%1").arg(int(u), 4, 16, QLatin1Char('0'));
    }
    return out;
}

void StationLog::Add(const QDateTime& time, const QString& text)
{
    Entry entry{time.date(),
                TextCodec::encode(time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz ")) + Clean(text)) + '\n'};
    {
        const std::lock_guard lock(m_mutex);
        ++m_added;
        if (m_queue.size() >= m_limit || m_stop) {
            ++m_done;
            ++m_lost;
            return;
        }
        m_queue.push_back(std::move(entry));
    }
    m_wake.notify_one();
}

bool StationLog::Flush(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    const quint64 target = m_added;
    return m_written.wait_for(lock, timeout, [&] { return m_done >= target; });
}

quint64 StationLog::LostLines() const
{
    const std::lock_guard lock(m_mutex);
    return m_lost;
}

void StationLog::Run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [&] { return m_stop || !m_queue.empty(); });
        if (m_queue.empty())
            break; // stopped, and everything written
        std::vector<Entry> batch;
        batch.swap(m_queue);
        lock.unlock();
        const size_t lost = Write(batch);
        lock.lock();
        m_lost += lost;
        m_done += batch.size();
        m_written.notify_all();
    }
    m_file.close();
}

size_t StationLog::Write(const std::vector<Entry>& batch)
{
    size_t lost = 0;
    size_t i = 0;
    while (i < batch.size()) {
        // One write for each run of lines of the same day.
        const QDate day = batch[i].day;
        QByteArray bytes;
        size_t end = i;
        for (; end < batch.size() && batch[end].day == day; ++end)
            bytes += batch[end].line;
        const size_t count = end - i;
        i = end;

        quint64 lostSoFar;
        {
            const std::lock_guard lock(m_mutex);
            lostSoFar = m_lost;
        }
        lostSoFar += lost;
        if (lostSoFar > m_lostTold) {
            // Starts on a line of its own, also after a part of a line that
            // a full disk cut off.
            const QByteArray stamp = bytes.left(bytes.indexOf(' ', bytes.indexOf(' ') + 1));
            const QString why = m_lastError.isEmpty() ? QStringLiteral("queue full") : m_lastError;
            bytes.prepend('\n' + stamp + " log: " + QByteArray::number(lostSoFar - m_lostTold) + " lines lost ("
                          + TextCodec::encode(why) + ")\n");
        }
        if (OpenDay(day) && m_file.append(bytes)) {
            m_lostTold = lostSoFar;
            m_lastError.clear();
            continue;
        }
        m_lastError = m_file.errorText();
        // Opened anew for the next lines: the disk may have room again.
        m_file.close();
        lost += count;
    }
    return lost;
}

bool StationLog::OpenDay(const QDate& day)
{
    if (m_file.isOpen() && day == m_fileDay)
        return true;
    if (!m_prunedFor.isValid() || day > m_prunedFor) {
        Prune(day);
        m_prunedFor = day;
    }
    m_fileDay = day;
    return m_file.open(m_folder + FileName(day));
}

void StationLog::Prune(const QDate& newest)
{
    static const QRegularExpression name(QStringLiteral("^station-(\\d{4}-\\d{2}-\\d{2})\\.log$"));
    const QDate oldest = newest.addDays(-kKeepDays);
    const QDir dir(m_folder);
    for (const QString& file : dir.entryList(QDir::Files | QDir::System)) {
        const QRegularExpressionMatch match = name.match(file);
        if (!match.hasMatch())
            continue;
        const QDate day = QDate::fromString(match.captured(1), QStringLiteral("yyyy-MM-dd"));
        if (day.isValid() && day < oldest)
            FileOps::unlink(QFile::encodeName(dir.filePath(file)).constData());
    }
}

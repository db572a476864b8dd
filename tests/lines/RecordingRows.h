#pragma once

#include "lines/LineRows.h"
#include "lines/LineState.h"

#include <QCoreApplication>
#include <QThread>

#include <array>
#include <atomic>

// The line rows without widgets: keeps the last value of every item of
// every row, and counts calls that did not come on the window thread.
class RecordingRows final : public LineRows
{
public:
    static constexpr int kKinds = 10;

    void SetLineItem(int kind, int line, const QString& text) override
    {
        check();
        if (kind >= 0 && kind < kKinds && line >= 0 && line < 8)
            m_items[size_t(line)][size_t(kind)] = text;
    }
    void SetLineProgress(int percent, int line) override
    {
        check();
        m_progress[size_t(line)] = percent;
    }
    void ShowCounters() override { ++m_countersShown; }
    QString ClockText() const override { return QStringLiteral("12/07/2026 09:35:10"); }

    QString item(int kind, int line) const { return m_items[size_t(line)][size_t(kind)]; }
    QString info(int line) const { return item(LINE_ITEM_INFO, line); }
    int badge(int line) const { return item(LINE_ITEM_BADGE, line).toInt(); }
    bool buttonEnabled(int line) const { return item(LINE_ITEM_BUTTON, line) == ButtonText(BUTTON_ENABLED); }
    int progress(int line) const { return m_progress[size_t(line)]; }
    int countersShown() const { return m_countersShown; }
    int offWindowThread() const { return m_offWindowThread.load(); }

private:
    void check()
    {
        if (QThread::currentThread() != QCoreApplication::instance()->thread())
            ++m_offWindowThread;
    }

    std::array<std::array<QString, kKinds>, 8> m_items;
    std::array<int, 8> m_progress{};
    int m_countersShown = 0;
    std::atomic<int> m_offWindowThread{0};
};

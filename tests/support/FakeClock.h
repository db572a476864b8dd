#pragma once

#include "platform/Clock.h"

#include <QDateTime>

// A clock the test sets.
class FakeClock final : public Clock
{
public:
    QDateTime now() const override { return m_now; }
    void set(const QDateTime& now) { m_now = now; }

private:
    QDateTime m_now = QDateTime(QDate(2026, 12, 7), QTime(9, 35, 10));
};

#pragma once

#include "recorddb/OutboxRecord.h"
#include "recorddb/PgTestServer.h"

#include <QCoreApplication>
#include <QUuid>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>

// The shared private server; skips the test where the server programs are
// missing and fails it where the server would not start.
#define REQUIRE_PG_SERVER(server)                                                          \
    PgTestServer* server = PgTestServer::shared();                                         \
    if (!server)                                                                           \
        GTEST_SKIP() << PgTestServer::skipReason().toStdString();                          \
    if (!server->running())                                                                \
        server->start();                                                                   \
    ASSERT_TRUE(server->running()) << server->setupError().toStdString()

namespace RecordDbTest {

// A record with every field set and told apart by number.
inline OutboxRecord sample(int number, bool passed = true)
{
    OutboxRecord r;
    r.recordId = QUuid::createUuid().toByteArray(QUuid::WithoutBraces);
    r.station = QStringLiteral("ST-01");
    r.imei = QStringLiteral("3567890000%1").arg(number, 5, 10, QLatin1Char('0'));
    r.passed = passed;
    r.versionStem = QStringLiteral("ABC_");
    r.deviceVersion = QStringLiteral("ABC_V1.0");
    r.packageVersion = QStringLiteral("ABC_V1.1");
    r.recordedAt = QDateTime(QDate(2026, 12, 7), QTime(9, 35, 12, 250), Qt::OffsetFromUTC, 3600)
                       .addSecs(number);
    r.line = 1 + number % 8;
    r.port = 3 + number % 8;
    r.engineCode = passed ? 0 : 17;
    r.engineMessage = passed ? QString() : QStringLiteral("write failed, block %1").arg(number);
    r.elapsedSeconds = 60 + number;
    r.toolVersion = QStringLiteral("Vintrel_RT40K_USV1.00.00");
    return r;
}

// Processes events until done() holds or the deadline passes.
inline bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds deadline = std::chrono::seconds(30))
{
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

} // namespace RecordDbTest

// The schema on a real server: stations that start together, a database
// that is already up to date, and one that a later version has moved on.
#include "recorddb/PgConnection.h"
#include "recorddb/RecordDbSchema.h"
#include "recorddb/RecordDbTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

TEST(RecordDbSchemaTest, StationsStartingTogetherCreateItOnce)
{
    REQUIRE_PG_SERVER(server);
    const QByteArray db = server->createDatabase();
    std::atomic<int> ready{0};
    std::vector<std::thread> stations;
    for (int n = 0; n < 6; ++n) {
        stations.emplace_back([&] {
            PgConnection conn;
            if (conn.connect(db, 30s) && RecordDbSchema::Ensure(conn, 30s))
                ++ready;
            else
                ADD_FAILURE() << conn.error().toStdString();
        });
    }
    for (std::thread& t : stations)
        t.join();
    EXPECT_EQ(ready.load(), 6);
    EXPECT_EQ(PgTestServer::query(db, "SELECT version FROM station_schema"),
              (QList<QStringList>{{QString::number(RecordDbSchema::kVersion)}}));
    for (const char* view : {"units_per_hour", "first_pass_yield", "failures_by_port"})
        EXPECT_EQ(PgTestServer::query(db, QByteArray("SELECT to_regclass('") + view + "') IS NOT NULL"),
                  (QList<QStringList>{{"t"}}))
            << view;
}

TEST(RecordDbSchemaTest, AStationWithoutCreateRightsUsesAPreparedDatabase)
{
    REQUIRE_PG_SERVER(server);
    const QByteArray db = server->createDatabase();
    {
        PgConnection owner;
        ASSERT_TRUE(owner.connect(db, 30s));
        ASSERT_TRUE(RecordDbSchema::Ensure(owner, 30s));
    }
    const QByteArray name = db.mid(db.indexOf("dbname=") + 7);
    ASSERT_TRUE(PgTestServer::execute(db, "DO $$ BEGIN IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = "
                                          "'station_insert') THEN CREATE ROLE station_insert LOGIN; END IF; END $$"));
    ASSERT_TRUE(PgTestServer::execute(db, "REVOKE CREATE ON SCHEMA public FROM PUBLIC"));
    ASSERT_TRUE(PgTestServer::execute(db, "GRANT SELECT ON station_schema TO station_insert"));
    ASSERT_TRUE(PgTestServer::execute(db, "GRANT SELECT, INSERT ON download_records TO station_insert"));

    PgConnection station;
    ASSERT_TRUE(station.connect(server->conninfo(name, "station_insert"), 30s)) << station.error().toStdString();
    ASSERT_TRUE(RecordDbSchema::Ensure(station, 30s)) << station.error().toStdString();
    const QList<PendingRecord> one{{1, RecordDbTest::sample(1)}};
    EXPECT_TRUE(station.exec(RecordDbSchema::InsertStatement(1), RecordDbSchema::InsertParameters(one), 30s))
        << station.error().toStdString();
}

TEST(RecordDbSchemaTest, ANewerSchemaIsLeftAsItIs)
{
    REQUIRE_PG_SERVER(server);
    const QByteArray db = server->createDatabase();
    PgConnection conn;
    ASSERT_TRUE(conn.connect(db, 30s));
    ASSERT_TRUE(RecordDbSchema::Ensure(conn, 30s));
    ASSERT_TRUE(conn.exec("UPDATE station_schema SET version = version + 1", 30s));
    ASSERT_TRUE(conn.exec("ALTER TABLE download_records ADD COLUMN shift text", 30s));
    // Not for this station to fill: reported, and left as it is.
    int newer = 0;
    EXPECT_FALSE(RecordDbSchema::Ensure(conn, 30s, &newer));
    EXPECT_EQ(newer, RecordDbSchema::kVersion + 1);
    EXPECT_EQ(RecordDbSchema::StoredVersion(conn, 30s), RecordDbSchema::kVersion + 1);
    EXPECT_EQ(PgTestServer::query(db, "SELECT version FROM station_schema"),
              (QList<QStringList>{{QString::number(RecordDbSchema::kVersion + 1)}}));
}

} // namespace

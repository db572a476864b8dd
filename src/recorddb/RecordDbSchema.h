#pragma once

#include "recorddb/OutboxRecord.h"

#include <QByteArray>
#include <QList>

#include <chrono>

class PgConnection;

// The record database's tables and views, and the station's insert.
//
// The schema carries a version number in table "station_schema". A station
// brings an older database up to its own version at connect, under an
// advisory lock so that stations starting together do not race; a later
// version adds its steps to the list in the source.
namespace RecordDbSchema {

constexpr int kVersion = 1;

// Creates or migrates the schema when needed. False: see conn.error(),
// unless the database's schema is newer than this station's, which is
// left alone and reported in newerVersion (0 otherwise).
bool Ensure(PgConnection& conn, std::chrono::milliseconds timeout, int* newerVersion = nullptr);

// The database's schema version: 0 for none, -1 when it cannot be read.
int StoredVersion(PgConnection& conn, std::chrono::milliseconds timeout);

// One INSERT of rows records that skips record ids already stored, and its
// parameters, 14 per record.
QByteArray InsertStatement(int rows);
QList<QByteArray> InsertParameters(const QList<PendingRecord>& records);

} // namespace RecordDbSchema

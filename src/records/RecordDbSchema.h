#pragma once

#include "records/OutboxRecord.h"

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

// Creates or migrates the schema when needed. False: see conn.error().
bool Ensure(PgConnection& conn, std::chrono::milliseconds timeout);

// One INSERT of rows records that skips record ids already stored, and its
// parameters, 14 per record.
QByteArray InsertStatement(int rows);
QList<QByteArray> InsertParameters(const QList<PendingRecord>& records);

} // namespace RecordDbSchema

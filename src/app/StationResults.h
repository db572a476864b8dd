#pragma once

#include "lines/LineResultSink.h"

class LineRows;
class PassCounters;
class RecordDbLink;
class RecordStore;

// The station's handling of a finished line: the counters go up and are
// shown again, the record log takes the line's record, and the record
// database gets what the log took. Each piece may be missing.
class StationResults final : public LineResultSink
{
public:
    explicit StationResults(LineRows& rows);

    void SetCounters(PassCounters* counters) { m_counters = counters; }
    void SetRecords(RecordStore* records) { m_records = records; }
    // The record database, when the station sends its records to one.
    void SetRecordDb(RecordDbLink* recordDb) { m_recordDb = recordDb; }

    void LineFinished(const LineResult& result) override;

private:
    LineRows& m_rows;
    PassCounters* m_counters = nullptr;
    RecordStore* m_records = nullptr;
    RecordDbLink* m_recordDb = nullptr;
};

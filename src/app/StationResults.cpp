#include "app/StationResults.h"

#include "lines/LineRows.h"
#include "lines/VersionStem.h"
#include "recorddb/RecordDbLink.h"
#include "records/PassCounters.h"
#include "records/RecordLine.h"
#include "records/RecordStore.h"

StationResults::StationResults(LineRows& rows)
    : m_rows(rows)
{
}

void StationResults::LineFinished(const LineResult& result)
{
    if (m_counters) {
        m_counters->UpdateCounters(result.passed, false, m_rows.ClockText());
        m_rows.ShowCounters();
    }
    if (!m_records)
        return;
    LineRecord record;
    record.passed = result.passed;
    record.imei = result.device.imei;
    record.versionStem = VersionStem(result.device.displayVersion);
    record.deviceVersion = result.device.displayVersion;
    record.packageVersion = result.packageVersion;
    record.date = FormatRecordDate(result.finishedAt);
    // The log is the station's own copy and comes first; the database gets
    // what the log took.
    if (m_records->AppendRecord(record) && m_recordDb)
        m_recordDb->addLineResult(record, {result.line, result.port, result.engineCode, result.lastMessage,
                                           result.elapsedSeconds, result.finishedAt});
}

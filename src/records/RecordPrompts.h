#pragma once

#include <QString>

// What the record log needs from the program around it: the operator's
// answers, and the end of the process after a fatal failure. The record log
// shows nothing and ends nothing by itself; the application provides this.
class RecordPrompts
{
public:
    virtual ~RecordPrompts() = default;

    // The installed record file is missing: asks the operator where it is.
    // chinese chooses the language of the store's own texts. Empty: cancelled.
    virtual QString AskForRecordFile(bool chinese) = 0;
    // The file to export the log to, proposedName offered; empty: cancelled.
    virtual QString AskForExportFile(const QString& proposedName) = 0;
    virtual void ShowExportResult(bool success, bool chinese) = 0;
    // A conversion of the log failed beyond repair: tells the operator, with
    // the system's error number of the failure, and ends the process with
    // status 1. Returns only where a test has replaced the process end.
    virtual void FatalError(const QString& message, int errorCode) = 0;
};

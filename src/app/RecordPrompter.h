#pragma once

#include "records/RecordPrompts.h"

class Prompter;

// The record log's questions and its fatal chain, as the station shows them:
// boxes and file dialogs through the Prompter, the process end through
// ProcessEnd.
class RecordPrompter final : public RecordPrompts
{
public:
    explicit RecordPrompter(Prompter& prompter);

    QString AskForRecordFile(bool chinese) override;
    QString AskForExportFile(const QString& proposedName) override;
    void ShowExportResult(bool success, bool chinese) override;
    // Four boxes, then exit status 1.
    void FatalError(const QString& message, int errorCode) override;

private:
    Prompter& m_prompter;
};

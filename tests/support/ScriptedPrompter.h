#pragma once

#include "platform/Prompter.h"

#include <QList>
#include <QString>

#include <deque>
#include <functional>

// A Prompter for tests: records every prompt, answers from a script, and
// fails the test on a prompt that nobody scripted.
class ScriptedPrompter final : public Prompter
{
public:
    enum class Kind { Message, OpenFile, SaveFile, ChooseFolder };

    struct Record
    {
        Kind kind;
        Message message;       // for Kind::Message
        FileRequest file;      // for OpenFile and SaveFile
        FolderRequest folder;  // for ChooseFolder
    };

    ~ScriptedPrompter() override;

    // Queue answers, consumed in order by prompts of the matching kind.
    void expectMessage(Answer answer = Answer::Ok);
    void expectOpenFile(const QString& path);   // empty path = cancel
    void expectSaveFile(const QString& path);
    void expectFolder(const QString& path);
    // Runs while a message box is "up" (before it is answered).
    void onNextMessage(std::function<void(const Message&)> whileShown);

    const QList<Record>& records() const { return m_records; }
    QStringList messageTexts() const;
    int pending() const { return int(m_script.size()); }
    void clear();

    Answer message(const Message& message) override;
    QString openFile(const FileRequest& request) override;
    QString saveFile(const FileRequest& request) override;
    QString chooseFolder(const FolderRequest& request) override;

private:
    struct Step
    {
        Kind kind;
        Answer answer = Answer::Ok;
        QString path;
        std::function<void(const Message&)> whileShown;
    };
    Step take(Kind kind, const QString& what);

    std::deque<Step> m_script;
    std::function<void(const Message&)> m_nextWhileShown;
    QList<Record> m_records;
};

#include "support/ScriptedPrompter.h"

#include <gtest/gtest.h>

namespace {
const char* kindName(ScriptedPrompter::Kind kind)
{
    switch (kind) {
    case ScriptedPrompter::Kind::Message: return "message box";
    case ScriptedPrompter::Kind::OpenFile: return "open-file dialog";
    case ScriptedPrompter::Kind::SaveFile: return "save-file dialog";
    case ScriptedPrompter::Kind::ChooseFolder: return "folder chooser";
    }
    return "?";
}
} // namespace

ScriptedPrompter::~ScriptedPrompter()
{
    EXPECT_TRUE(m_script.empty()) << m_script.size() << " scripted prompt(s) never came";
}

void ScriptedPrompter::expectMessage(Answer answer) { m_script.push_back({Kind::Message, answer, {}, {}}); }
void ScriptedPrompter::expectOpenFile(const QString& path) { m_script.push_back({Kind::OpenFile, Answer::Ok, path, {}}); }
void ScriptedPrompter::expectSaveFile(const QString& path) { m_script.push_back({Kind::SaveFile, Answer::Ok, path, {}}); }
void ScriptedPrompter::expectFolder(const QString& path) { m_script.push_back({Kind::ChooseFolder, Answer::Ok, path, {}}); }

void ScriptedPrompter::onNextMessage(std::function<void(const Message&)> whileShown)
{
    m_nextWhileShown = std::move(whileShown);
}

QStringList ScriptedPrompter::messageTexts() const
{
    QStringList texts;
    for (const Record& r : m_records)
        if (r.kind == Kind::Message)
            texts << r.message.text;
    return texts;
}

void ScriptedPrompter::clear()
{
    m_script.clear();
    m_records.clear();
}

ScriptedPrompter::Step ScriptedPrompter::take(Kind kind, const QString& what)
{
    if (m_script.empty() || m_script.front().kind != kind) {
        ADD_FAILURE() << "unexpected " << kindName(kind) << ": " << what.toStdString();
        return {kind, kind == Kind::Message ? Answer::No : Answer::Ok, {}, {}};
    }
    Step step = m_script.front();
    m_script.pop_front();
    return step;
}

Prompter::Answer ScriptedPrompter::message(const Message& message)
{
    m_records.append({Kind::Message, message, {}, {}});
    Step step = take(Kind::Message, message.caption + QStringLiteral(": ") + message.text);
    if (m_nextWhileShown) {
        auto whileShown = std::move(m_nextWhileShown);
        m_nextWhileShown = nullptr;
        whileShown(message);
    }
    return step.answer;
}

QString ScriptedPrompter::openFile(const FileRequest& request)
{
    m_records.append({Kind::OpenFile, {}, request, {}});
    return take(Kind::OpenFile, request.proposedName).path;
}

QString ScriptedPrompter::saveFile(const FileRequest& request)
{
    m_records.append({Kind::SaveFile, {}, request, {}});
    return take(Kind::SaveFile, request.proposedName).path;
}

QString ScriptedPrompter::chooseFolder(const FolderRequest& request)
{
    m_records.append({Kind::ChooseFolder, {}, {}, request});
    return take(Kind::ChooseFolder, request.title).path;
}

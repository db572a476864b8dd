#pragma once

#include <QString>

// Every message box, file dialog and folder chooser of the station goes
// through this interface. The windows get the Qt implementation; tests get a
// scripted one that records each prompt and answers from a queue.
class Prompter
{
public:
    enum class Icon { None, Information, Exclamation, Error, Question };
    enum class Buttons { Ok, YesNo };
    enum class Answer { Ok, Yes, No };

    struct Message
    {
        QString caption;
        QString text;
        Icon icon = Icon::Exclamation;
        Buttons buttons = Buttons::Ok;
        Answer defaultAnswer = Answer::Ok;
        bool ownedByWindow = true; // false: a box with no owner window
    };

    struct FileRequest
    {
        QString proposedName; // file name offered in the dialog
        QString filter;       // e.g. "csv file(*.csv) | *.csv; ||"
        bool overwritePrompt = false;
        bool ownedByWindow = false;
    };

    struct FolderRequest
    {
        QString title;
        QString startDir; // pre-selected when it exists
    };

    virtual ~Prompter() = default;

    virtual Answer message(const Message& message) = 0;
    // Each returns the chosen path, or an empty text when cancelled.
    virtual QString openFile(const FileRequest& request) = 0;
    virtual QString saveFile(const FileRequest& request) = 0;
    virtual QString chooseFolder(const FolderRequest& request) = 0;

    // The usual station warning: caption "Vintrel_Tool", exclamation, OK.
    void warn(const QString& text)
    {
        Message m;
        m.caption = QStringLiteral("Vintrel_Tool");
        m.text = text;
        message(m);
    }
};

#pragma once

#include "platform/WindowThread.h"

#include <QByteArray>
#include <QString>

#include <memory>

class Prompter;
class QObject;
class RecordDbLink;
class RecordStore;

// The window's side of the record database: starts the outbox and the
// upload when config.ini names a database, tells the operator of link and
// outbox problems, and shows the status box of the menu entry.
class RecordDbPanel final
{
public:
    // context: the window thread's target for the queued boxes.
    RecordDbPanel(Prompter& prompter, QObject* context);
    ~RecordDbPanel();
    RecordDbPanel(const RecordDbPanel&) = delete;
    RecordDbPanel& operator=(const RecordDbPanel&) = delete;

    // Nothing happens without a URL; otherwise the link, already started,
    // queueing the lines of log.
    RecordDbLink* Start(const QByteArray& url, const QString& station, const QString& versionLabel,
                        RecordStore* log);
    void ShowStatus();
    // Ends the upload thread.
    void Stop();

private:
    Prompter& m_prompter;
    WindowThread m_window;
    std::unique_ptr<RecordDbLink> m_link;
};

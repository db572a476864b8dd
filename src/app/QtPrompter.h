#pragma once

#include "platform/Prompter.h"

#include <QPointer>
#include <QWidget>

// The only code that opens QMessageBox, QFileDialog and the folder chooser.
class QtPrompter final : public Prompter
{
public:
    QtPrompter() = default;

    // The window that owns boxes with ownedByWindow set.
    void setOwner(QWidget* owner) { m_owner = owner; }

    Answer message(const Message& message) override;
    QString openFile(const FileRequest& request) override;
    QString saveFile(const FileRequest& request) override;
    QString chooseFolder(const FolderRequest& request) override;

    // "csv file(*.csv) | *.csv; ||" becomes "csv file(*.csv) (*.csv)".
    static QString qtFilter(const QString& filter);

private:
    QPointer<QWidget> m_owner;
};

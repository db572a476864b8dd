#pragma once

#include <QDialog>
#include <QIcon>

// The About box, template 100: icon, version label, OK and a notice line.
class AboutDialog final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AboutDialog)

public:
    explicit AboutDialog(const QIcon& icon, QWidget* parent = nullptr);
};

#pragma once

#include <QObject>

class QWidget;

// The station window is worked with the mouse only: key presses and
// shortcuts bound for the window or its controls are dropped before any
// widget sees them. Alt combinations stay with the system.
class KeyFilter final : public QObject
{
public:
    explicit KeyFilter(QWidget* window);
    Q_DISABLE_COPY_MOVE(KeyFilter)

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* m_window;
};

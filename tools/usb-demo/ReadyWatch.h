#pragma once

#include <QObject>
#include <QTimer>

#include <vector>

class MainDialog;

// For a check without an operator: watches the tool's window until line n
// shows what device n of the demo should bring (READY, or the ARM-mode text
// for a boot-ROM device), prints the lines and closes the tool as the
// operator would. Gives up with status 1 after the time limit.
class ReadyWatch final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ReadyWatch)

public:
    ReadyWatch(std::vector<bool> bootRomLines, int timeLimitMs);

private:
    void check();
    bool lineAsExpected(MainDialog& window, int line) const;
    void printLines(MainDialog& window) const;

    const std::vector<bool> m_bootRomLines;
    QTimer m_poll;
    QTimer m_limit;
};

#pragma once

#include <QString>

// What the line controller needs of the window: the row operations of the
// eight line rows, and the counters' place on the screen. Called on the
// window thread only; the controller hands workers' calls over itself.
class LineRows
{
public:
    virtual ~LineRows() = default;
    // kind is a LineItem; see LineState.h.
    virtual void SetLineItem(int kind, int line, const QString& text) = 0;
    virtual void SetLineProgress(int percent, int line) = 0;
    // The counters have changed and are shown again.
    virtual void ShowCounters() = 0;
    // The window's current-time text: a counters file made anew keeps it
    // as its clear time.
    virtual QString ClockText() const = 0;
};

#include "lines/RecordingHandler.h"

#include <QCoreApplication>
#include <QThread>

void RecordingHandler::OnLineDevice(const int32_t* offer, int line)
{
    record({'D', line, *offer, offer, {}, false});
}

void RecordingHandler::OnLineProgress(int32_t percent, int line)
{
    record({'P', line, percent, nullptr, {}, false});
}

void RecordingHandler::OnLineResult(const int32_t* code, int line)
{
    record({'R', line, *code, code, {}, false});
}

void RecordingHandler::OnLineMessage(const char* text, int line)
{
    record({'M', line, 0, text, text, false});
}

int RecordingHandler::count(char kind, int line) const
{
    return static_cast<int>(of(kind, line).size());
}

const RecordingHandler::Event* RecordingHandler::last(char kind, int line) const
{
    for (auto it = events.rbegin(); it != events.rend(); ++it) {
        if (it->kind == kind && (line < 0 || it->line == line))
            return &*it;
    }
    return nullptr;
}

std::vector<RecordingHandler::Event> RecordingHandler::of(char kind, int line) const
{
    std::vector<Event> out;
    for (const Event& e : events) {
        if (e.kind == kind && (line < 0 || e.line == line))
            out.push_back(e);
    }
    return out;
}

void RecordingHandler::record(Event e)
{
    e.onWindowThread = QThread::currentThread() == QCoreApplication::instance()->thread();
    events.push_back(e);
    // A copy: a hook that spins an event loop may record more events.
    if (hook)
        hook(e);
}

#pragma once

#include "lines/LineEventHandler.h"

#include <functional>
#include <string>
#include <vector>

// Records every event the sink delivers, with the thread it arrived on.
// Touched only on the window thread, like the main window.
class RecordingHandler final : public LineEventHandler
{
public:
    struct Event {
        char kind = 0; // 'D' device, 'P' progress, 'R' result, 'M' message
        int line = -1;
        int32_t value = 0;            // percent, *offer or *code
        const void* pointer = nullptr; // the engine's data pointer
        std::string text;
        bool onWindowThread = false;
    };

    void OnLineDevice(const int32_t* offer, int line) override;
    void OnLineProgress(int32_t percent, int line) override;
    void OnLineResult(const int32_t* code, int line) override;
    void OnLineMessage(const char* text, int line) override;

    int count(char kind, int line = -1) const;
    const Event* last(char kind, int line = -1) const;
    std::vector<Event> of(char kind, int line = -1) const;

    std::vector<Event> events;
    // Runs inside the handler, after the event has been recorded.
    std::function<void(const Event&)> hook;

private:
    void record(Event e);
};

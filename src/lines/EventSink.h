#pragma once

#include "FlashEngine.h"
#include "platform/WindowThread.h"

#include <functional>
#include <memory>

class LineEventHandler;
class QObject;

// The callback object handed to the engine. Its 20 slots keep the places
// and argument counts that engines call by position; only OnEvent does work.
// OnEvent hands each event to the handler on the window thread and returns
// after the handler has run, so the engine's data pointers stay valid for
// the handler. Events with a line outside 0..7 or without data are dropped.
//
// Detach() makes every later event a no-op and releases engine threads that
// still wait for the window thread; the engine binding calls it before it
// releases the engine, so an engine that joins its threads cannot deadlock
// with a thread blocked in OnEvent.
class EventSink final : public EngineEventSink
{
public:
    EventSink(LineEventHandler* handler, QObject* windowContext);
    ~EventSink() override;
    EventSink(const EventSink&) = delete;
    EventSink& operator=(const EventSink&) = delete;

    int32_t Reserved0() override;
    void Reserved1() override;
    EngineEventSink* Reserved2(int32_t, int32_t) override;
    void Reserved3(int32_t, int32_t, int32_t) override;
    void Reserved4(int32_t, int32_t) override;
    int32_t Reserved5(int32_t, int32_t, int32_t, int32_t) override;
    int32_t Reserved6(int32_t, int32_t) override;
    int32_t Reserved7(int32_t, int32_t, int32_t, int32_t) override;
    int32_t Reserved8(int32_t, int32_t) override;
    int32_t Reserved9(int32_t, int32_t) override;
    int32_t Reserved10(int32_t, int32_t) override;
    int32_t Reserved11(int32_t, int32_t, int32_t) override;
    int32_t Reserved12(int32_t) override;
    int32_t Reserved13(int32_t, int32_t, int32_t) override;
    int32_t Reserved14(int32_t) override;
    void Reserved15(int32_t) override;
    void Reserved16(int32_t, int32_t) override;
    void Reserved17(int32_t) override;
    void OnEvent(EngineEvent* event) override;

    // Thread-safe; also done when the window context is destroyed.
    void Detach();
    bool IsDetached() const;
    // Engine threads now waiting for the window thread (diagnostics, tests).
    int Waiting() const;

private:
    LineEventHandler* m_handler;
    WindowThread m_window;
};

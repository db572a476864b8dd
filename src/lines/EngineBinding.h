#pragma once

#include "platform/SharedLibrary.h"

#include <QString>

#include <memory>

class EventSink;
class FlashEngine;
class LineEventHandler;
class QObject;

// The line controller's hold on the download engine: the library, the engine
// object made by its factory and the event sink handed to it.
class EngineBinding final
{
public:
    static constexpr const char* kDefaultLibraryName = "libPhoneFlashEngine.so";

    EngineBinding();
    ~EngineBinding(); // Release()
    EngineBinding(const EngineBinding&) = delete;
    EngineBinding& operator=(const EngineBinding&) = delete;

    // Test seam: the name or path passed to dlopen; an empty name restores
    // the default. A bare name is found through the executable's run path,
    // i.e. in the station folder.
    static void SetLibraryName(const QString& name);
    static QString LibraryName();

    // Loads the library, creates the engine with its "Create", creates the
    // sink for handler (run on windowContext's thread) and hands it over:
    // RegisterSink, then Setup(6), their results unused. False when the
    // library, its "Create" or the engine is missing.
    bool Load(LineEventHandler* handler, QObject* windowContext);
    // Binds an engine that lives in this process without a library (a
    // scripted engine in tests). Release() leaves it to its owner.
    bool Adopt(FlashEngine* engine, LineEventHandler* handler, QObject* windowContext);

    FlashEngine* Engine() const { return m_engine; }
    EventSink* Sink() const { return m_sink; }

    // Detaches the sink first, so that events still waiting for the window
    // thread return at once and later ones are dropped; then releases the
    // engine (its "Destroy" when exported, otherwise its memory only, without
    // any engine call) and unloads the library. Must not be called from
    // inside an engine event handler: an engine thread that waits for that
    // handler cannot be released. Safe to call more than once.
    void Release();

private:
    void bind(FlashEngine* engine, LineEventHandler* handler, QObject* windowContext);

    SharedLibrary m_library;
    FlashEngine* m_engine = nullptr;
    void (*m_destroy)(FlashEngine*) = nullptr;
    bool m_adopted = false;
    EventSink* m_sink = nullptr; // kept alive after Release, see bind()
};

#include "lines/EngineBinding.h"

#include "lines/EventSink.h"

#include <QtGlobal>

#include <mutex>
#include <new>
#include <vector>

namespace {

QString& libraryNameSetting()
{
    static QString name = QString::fromLatin1(EngineBinding::kDefaultLibraryName);
    return name;
}

// Sinks handed to an engine are never freed: an engine may keep and call its
// sink until it is gone, and an engine released without "Destroy" may never
// be gone. They stay reachable here so that leak checkers see them as kept.
void keepForever(EventSink* sink)
{
    static std::mutex mutex;
    static auto* kept = new std::vector<EventSink*>;
    std::lock_guard lock(mutex);
    kept->push_back(sink);
}

} // namespace

EngineBinding::EngineBinding() = default;

EngineBinding::~EngineBinding()
{
    Release();
}

void EngineBinding::SetLibraryName(const QString& name)
{
    libraryNameSetting() = name.isEmpty() ? QString::fromLatin1(kDefaultLibraryName) : name;
}

QString EngineBinding::LibraryName()
{
    return libraryNameSetting();
}

bool EngineBinding::Load(LineEventHandler* handler, QObject* windowContext)
{
    Release();
    if (!handler || !windowContext)
        return false;
    if (!m_library.load(LibraryName())) {
        qWarning("Engine library not loaded: %s", qPrintable(m_library.errorString()));
        return false;
    }
    using CreateFn = FlashEngine* (*)();
    using DestroyFn = void (*)(FlashEngine*);
    const auto create = reinterpret_cast<CreateFn>(m_library.ownSymbol("Create"));
    FlashEngine* engine = create ? create() : nullptr;
    if (!engine) {
        qWarning("Engine library %s: %s", qPrintable(LibraryName()),
                 create ? "Create returned no engine" : "no export Create");
        m_library.unload();
        return false;
    }
    m_destroy = reinterpret_cast<DestroyFn>(m_library.ownSymbol("Destroy"));
    bind(engine, handler, windowContext);
    return true;
}

bool EngineBinding::Adopt(FlashEngine* engine, LineEventHandler* handler, QObject* windowContext)
{
    Release();
    if (!engine || !handler || !windowContext)
        return false;
    m_adopted = true;
    bind(engine, handler, windowContext);
    return true;
}

void EngineBinding::bind(FlashEngine* engine, LineEventHandler* handler, QObject* windowContext)
{
    m_engine = engine;
    m_sink = new EventSink(handler, windowContext);
    keepForever(m_sink);
    m_engine->RegisterSink(m_sink);
    m_engine->Setup(6);
}

void EngineBinding::Release()
{
    if (m_sink)
        m_sink->Detach();
    if (m_engine && !m_adopted) {
        if (m_destroy)
            m_destroy(m_engine);
        else
            ::operator delete(static_cast<void*>(m_engine)); // memory only, no engine call
    }
    m_library.unload();
    m_engine = nullptr;
    m_destroy = nullptr;
    m_adopted = false;
    m_sink = nullptr;
}

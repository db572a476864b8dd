#include "support/ScriptedEngine.h"

#include <cstring>

ScriptedEngine::ScriptedEngine()
    : m_download([](ScriptedEngine& engine, int line, int) {
        engine.progress(line, 50);
        engine.progress(line, 100);
        engine.result(line, 0);
    })
{
}

void ScriptedEngine::setDevice(int port, int status, const QByteArray& text)
{
    std::lock_guard lock(m_mutex);
    m_devices[port] = {status, text};
}

void ScriptedEngine::removeDevice(int port)
{
    std::lock_guard lock(m_mutex);
    m_devices.erase(port);
}

void ScriptedEngine::raise(int type, int line, void* data)
{
    EngineEvent event{type, line, data};
    m_sink->OnEvent(&event);
}

void ScriptedEngine::progress(int line, int percent)
{
    int32_t value = percent;
    raise(ENGINE_EVENT_PROGRESS, line, &value);
}

void ScriptedEngine::message(int line, const char* text)
{
    raise(ENGINE_EVENT_MESSAGE, line, const_cast<char*>(text));
}

void ScriptedEngine::result(int line, int code)
{
    int32_t value = code;
    raise(ENGINE_EVENT_RESULT, line, &value);
}

void ScriptedEngine::deviceChanged(int offer)
{
    int32_t value = offer;
    raise(ENGINE_EVENT_DEVICE, 0, &value);
}

std::vector<std::pair<int, int>> ScriptedEngine::downloadCalls() const
{
    std::lock_guard lock(m_mutex);
    return m_downloadCalls;
}

int32_t ScriptedEngine::RegisterSink(EngineEventSink* sink)
{
    m_sink = sink;
    return 0;
}

int32_t ScriptedEngine::Setup(int32_t mode)
{
    m_setupMode = mode;
    return 0;
}

int32_t ScriptedEngine::QueryDevice(int32_t, int32_t port, EngineText* info)
{
    ++m_queries;
    std::lock_guard lock(m_mutex);
    const auto it = m_devices.find(port);
    if (it == m_devices.end())
        return -1;
    std::strncpy(info->text, it->second.text.constData(), sizeof(info->text) - 1);
    return it->second.status;
}

int32_t ScriptedEngine::EnumeratePorts(int32_t* ports, int32_t* count)
{
    const int n = std::min<int>(*count, int(m_ports.size()));
    for (int i = 0; i < n; ++i)
        ports[i] = m_ports[size_t(i)];
    *count = n;
    return 0;
}

int32_t ScriptedEngine::Download(int32_t line, int32_t port)
{
    {
        std::lock_guard lock(m_mutex);
        m_downloadCalls.emplace_back(line, port);
    }
    ++m_downloads;
    m_download(*this, line, port);
    return 0;
}

int32_t ScriptedEngine::ReloadSettings()
{
    ++m_reloads;
    return 0;
}

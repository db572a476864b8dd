#pragma once

#include "FlashEngine.h"

#include <QByteArray>

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

// An in-process engine for window tests: ports answer from a table, and
// Download runs a scripted body on the calling (worker) thread, which raises
// events through the registered sink like a vendor engine.
class ScriptedEngine final : public FlashEngine
{
public:
    struct Device
    {
        int status = 0; // 0 ready, -1 none, other ARM
        QByteArray text;
    };
    using DownloadBody = std::function<void(ScriptedEngine& engine, int line, int port)>;

    ScriptedEngine();
    ~ScriptedEngine() = default;

    void setDevice(int port, int status, const QByteArray& text = {});
    void removeDevice(int port);
    void setPorts(std::vector<int32_t> ports) { m_ports = std::move(ports); }
    void setDownload(DownloadBody body) { m_download = std::move(body); }

    // Raises an event through the sink, on the calling thread.
    void raise(int type, int line, void* data);
    void progress(int line, int percent);
    void message(int line, const char* text);
    void result(int line, int code);
    void deviceChanged(int offer = 1);

    EngineEventSink* sink() const { return m_sink; }
    int setupMode() const { return m_setupMode; }
    int reloads() const { return m_reloads; }
    int downloads() const { return m_downloads; }
    std::vector<std::pair<int, int>> downloadCalls() const;
    int queries() const { return m_queries; }

    int32_t Reserved0() override { return 0; }
    int32_t Reserved1() override { return 0; }
    int32_t RegisterSink(EngineEventSink* sink) override;
    int32_t Setup(int32_t mode) override;
    int32_t Reserved4() override { return 0; }
    int32_t Reserved5() override { return 0; }
    int32_t Reserved6() override { return 0; }
    int32_t QueryDevice(int32_t line, int32_t port, EngineText* info) override;
    int32_t EnumeratePorts(int32_t* ports, int32_t* count) override;
    int32_t Download(int32_t line, int32_t port) override;
    int32_t ReloadSettings() override;

private:
    mutable std::mutex m_mutex;
    std::map<int, Device> m_devices;
    std::vector<int32_t> m_ports;
    DownloadBody m_download;
    EngineEventSink* m_sink = nullptr;
    int m_setupMode = 0;
    std::atomic<int> m_reloads{0};
    std::atomic<int> m_downloads{0};
    std::atomic<int> m_queries{0};
    std::vector<std::pair<int, int>> m_downloadCalls;
};

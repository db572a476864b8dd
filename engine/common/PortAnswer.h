#pragma once

#include "EventSinkHolder.h"
#include "FlashEngine.h"

#include <cstdint>
#include <cstring>
#include <algorithm>
#include <mutex>
#include <string>

namespace engine {

// What QueryDevice answers for one port, from what an engine's monitor
// keeps of it.
struct PortAnswer
{
    int32_t status = -1;  // 0 ready, -1 empty, else not ready
    std::string identity; // status 0: "display,internal,IMEI"
    std::string message;  // not ready: what to tell the operator, or empty
    friend bool operator==(const PortAnswer&, const PortAnswer&) = default;
};

// Copies text into the tool's buffer, cut to fit.
inline void setEngineText(EngineText* info, const std::string& text)
{
    if (!info)
        return;
    const size_t n = std::min(text.size(), sizeof info->text - 1);
    std::memcpy(info->text, text.data(), n);
    info->text[n] = '\0';
}

// QueryDevice and EnumeratePorts of an engine that keeps one presence per
// port number (Ports: a map to records with a `presence` member that has
// answer(bool* settled) and occupied()), guarded by mutex, which is held
// only to read that state.
template <class Ports>
int32_t answerPort(std::mutex& mutex, Ports& ports, int32_t line, int32_t port, EngineText* info,
                   EventSinkHolder& sink, bool* settled)
{
    setEngineText(info, {});
    PortAnswer answer;
    {
        std::lock_guard lock(mutex);
        const auto it = ports.find(port);
        if (it == ports.end())
            return -1;
        answer = it->second.presence.answer(settled);
    }
    if (answer.status == 0)
        setEngineText(info, answer.identity);
    else if (answer.status != -1 && !answer.message.empty())
        sink.raise(ENGINE_EVENT_MESSAGE, line, answer.message.data());
    return answer.status;
}

template <class Ports>
int32_t listOccupied(std::mutex& mutex, const Ports& ports, int32_t* out, int32_t* count)
{
    if (!out || !count || *count < 0)
        return -1;
    std::lock_guard lock(mutex);
    int32_t n = 0;
    for (auto it = ports.lower_bound(1); it != ports.end() && n < *count; ++it) {
        if (it->second.presence.occupied())
            out[n++] = it->first;
    }
    *count = n;
    return 0;
}

} // namespace engine

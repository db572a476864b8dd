#pragma once

#include "ModuleSettings.h"

#include <cstdint>
#include <functional>
#include <string>

namespace modemdevice {

// The boot ROM of an emulated module: hello, command mode (serial number,
// hardware id), and the programmer read in requests and checked against the
// one the chip accepts.
class SaharaTarget final
{
public:
    using Send = std::function<bool(const std::string& bytes)>;
    enum class Next { Continue, Stall, ProgrammerRunning };

    // Status of an end of image whose programmer does not authenticate.
    static constexpr uint32_t kRefusedStatus = 0x1d;

    void start(const ModuleSettings& settings, const Send& send);
    Next receive(const ModuleSettings& settings, const char* data, size_t size, const Send& send);

    int helloCount() const { return m_hellos; }
    int readRequests() const { return m_requests; }

private:
    enum class State { AwaitHelloResponse, Command, AwaitData, AwaitDone, Finished };

    void requestNext(const ModuleSettings& settings, const Send& send);
    Next packet(const ModuleSettings& settings, const char* data, size_t size, const Send& send);

    State m_state = State::AwaitHelloResponse;
    std::string m_received;   // programmer bytes so far
    uint64_t m_pending = 0;   // bytes of the current request still to come
    int m_hellos = 0;
    int m_requests = 0;
};

} // namespace modemdevice

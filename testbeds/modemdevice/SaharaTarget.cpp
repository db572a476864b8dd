#include "SaharaTarget.h"

#include "SaharaPacket.h"

#include <algorithm>

namespace modemdevice {

using modem::SaharaPacket;

namespace {

constexpr uint32_t kProgrammerImage = 0x0d;

std::string littleEndian(uint64_t value, size_t size)
{
    std::string bytes;
    for (size_t i = 0; i < size; ++i)
        bytes.push_back(char((value >> (8 * i)) & 0xff));
    return bytes;
}

} // namespace

void SaharaTarget::start(const ModuleSettings&, const Send& send)
{
    m_state = State::AwaitHelloResponse;
    m_received.clear();
    m_pending = 0;
    ++m_hellos;
    send(SaharaPacket::hello(SaharaPacket::ImageTransferPending));
}

void SaharaTarget::requestNext(const ModuleSettings& settings, const Send& send)
{
    const uint64_t offset = m_received.size();
    if (offset >= settings.programmer.size()) {
        const bool accepted = m_received == settings.programmer;
        m_state = State::AwaitDone;
        send(SaharaPacket::endOfImage(kProgrammerImage, accepted ? 0 : kRefusedStatus));
        if (!accepted)
            m_state = State::Finished;
        return;
    }
    const uint64_t length = std::min<uint64_t>(settings.readChunk, settings.programmer.size() - offset);
    m_pending = length;
    m_state = State::AwaitData;
    ++m_requests;
    send(settings.read64 ? SaharaPacket::readData64(kProgrammerImage, offset, length)
                         : SaharaPacket::readData(kProgrammerImage, uint32_t(offset), uint32_t(length)));
}

SaharaTarget::Next SaharaTarget::receive(const ModuleSettings& settings, const char* data, size_t size,
                                         const Send& send)
{
    if (size == 0)
        return Next::Continue; // the end of a transfer
    if (m_state == State::AwaitData) {
        if (size > m_pending)
            return Next::Stall;
        m_received.append(data, size);
        m_pending -= size;
        if (m_pending == 0)
            requestNext(settings, send);
        return Next::Continue;
    }
    return packet(settings, data, size, send);
}

SaharaTarget::Next SaharaTarget::packet(const ModuleSettings& settings, const char* data, size_t size,
                                        const Send& send)
{
    SaharaPacket packet;
    std::string why;
    if (!SaharaPacket::parse(data, size, &packet, &why))
        return Next::Stall;
    switch (packet.command) {
    case SaharaPacket::HelloResponse:
        if (m_state != State::AwaitHelloResponse)
            return Next::Stall;
        if (packet.mode == SaharaPacket::CommandMode) {
            m_state = State::Command;
            send(SaharaPacket::commandReady());
        } else {
            requestNext(settings, send);
        }
        return Next::Continue;
    case SaharaPacket::Execute:
    case SaharaPacket::ExecuteData: {
        if (m_state != State::Command)
            return Next::Stall;
        std::string answer;
        if (packet.clientCommand == SaharaPacket::SerialNumberRead)
            answer = littleEndian(settings.serial, 4);
        else if (packet.clientCommand == SaharaPacket::HardwareIdRead)
            answer = littleEndian(settings.hardwareId, 8);
        if (packet.command == SaharaPacket::Execute)
            send(SaharaPacket::executeResponse(packet.clientCommand, uint32_t(answer.size())));
        else
            send(answer);
        return Next::Continue;
    }
    case SaharaPacket::SwitchMode:
        if (m_state != State::Command)
            return Next::Stall;
        start(settings, send);
        return Next::Continue;
    case SaharaPacket::Done:
        if (m_state != State::AwaitDone)
            return Next::Stall;
        m_state = State::Finished;
        send(SaharaPacket::doneResponse(SaharaPacket::ImageTransferComplete));
        return Next::ProgrammerRunning;
    case SaharaPacket::Reset:
        start(settings, send);
        return Next::Continue;
    default:
        return Next::Stall;
    }
}

} // namespace modemdevice

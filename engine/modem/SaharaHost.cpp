#include "SaharaHost.h"

#include <algorithm>
#include <cstdio>

namespace modem {

namespace {

std::string hex(const std::string& bytes)
{
    // Fields of command mode are little-endian integers.
    std::string text = "0x";
    char digits[3];
    for (size_t i = bytes.size(); i > 0; --i) {
        std::snprintf(digits, sizeof digits, "%02x", unsigned(static_cast<unsigned char>(bytes[i - 1])));
        text += digits;
    }
    return text;
}

} // namespace

SaharaHost::SaharaHost(PacketLink& link, std::chrono::milliseconds timeout)
    : m_link(link)
    , m_timeout(timeout)
{
}

bool SaharaHost::fail(ModemFailure::Kind kind, std::string text)
{
    if (!m_failure) {
        m_failure.kind = kind;
        m_failure.text = std::move(text);
    }
    return false;
}

bool SaharaHost::linkFailed(IoStatus status, const char* during)
{
    std::string text = std::string("Sahara: ") + during + ": ";
    text += m_link.lastError().empty() ? ioStatusText(status) : m_link.lastError();
    return fail(status == IoStatus::Timeout ? ModemFailure::Kind::Timeout : ModemFailure::Kind::ConnectionLost, text);
}

bool SaharaHost::send(const std::string& bytes, const char* during)
{
    const IoStatus status = sendTransfer(m_link, bytes.data(), bytes.size(), Clock::now() + m_timeout);
    return status == IoStatus::Ok || linkFailed(status, during);
}

bool SaharaHost::receive(SaharaPacket* packet, const char* during)
{
    char buffer[256];
    size_t got = 0;
    const IoStatus status = m_link.receive(buffer, sizeof buffer, &got, Clock::now() + m_timeout);
    if (status == IoStatus::TooLarge)
        return fail(ModemFailure::Kind::Protocol, std::string("Sahara: oversized packet while ") + during);
    if (status != IoStatus::Ok)
        return linkFailed(status, during);
    std::string why;
    if (!SaharaPacket::parse(buffer, got, packet, &why))
        return fail(ModemFailure::Kind::Protocol, "Sahara: " + why);
    return true;
}

bool SaharaHost::expect(uint32_t command, SaharaPacket* packet, const char* during)
{
    if (!receive(packet, during))
        return false;
    if (packet->command != command) {
        char text[96];
        std::snprintf(text, sizeof text, "Sahara: command 0x%x instead of 0x%x while %s",
                      unsigned(packet->command), unsigned(command), during);
        return fail(ModemFailure::Kind::Protocol, text);
    }
    return true;
}

bool SaharaHost::executeClient(uint32_t clientCommand, std::string* data)
{
    SaharaPacket reply;
    if (!send(SaharaPacket::execute(clientCommand), "asking for the chip's identity")
        || !expect(SaharaPacket::ExecuteResponse, &reply, "waiting for the identity's length"))
        return false;
    if (reply.clientCommand != clientCommand || reply.dataLength > 1024)
        return fail(ModemFailure::Kind::Protocol, "Sahara: malformed answer in command mode");
    if (!send(SaharaPacket::executeData(clientCommand), "asking for the identity's data"))
        return false;
    data->assign(reply.dataLength, '\0');
    size_t got = 0;
    const IoStatus status = m_link.receive(data->data(), data->size(), &got, Clock::now() + m_timeout);
    if (status == IoStatus::TooLarge)
        return fail(ModemFailure::Kind::Protocol, "Sahara: more identity data than announced");
    if (status != IoStatus::Ok)
        return linkFailed(status, "reading the chip's identity");
    data->resize(got);
    return true;
}

bool SaharaHost::readIdentity(ChipIdentity* identity)
{
    SaharaPacket packet;
    if (!expect(SaharaPacket::Hello, &packet, "waiting for hello")
        || !send(SaharaPacket::helloResponse(SaharaPacket::CommandMode), "answering hello")
        || !expect(SaharaPacket::CommandReady, &packet, "entering command mode"))
        return false;
    std::string serial;
    std::string hardwareId;
    if (!executeClient(SaharaPacket::SerialNumberRead, &serial)
        || !executeClient(SaharaPacket::HardwareIdRead, &hardwareId))
        return false;
    identity->serial = serial.empty() ? std::string() : hex(serial);
    identity->hardwareId = hardwareId.empty() ? std::string() : hex(hardwareId);
    // The ROM answers the switch with a new hello, read by sendProgrammer.
    return send(SaharaPacket::switchMode(SaharaPacket::ImageTransferPending), "leaving command mode");
}

bool SaharaHost::serveRead(const SaharaPacket& request, const std::string& programmer)
{
    if (request.offset > programmer.size() || request.size > programmer.size() - request.offset) {
        char text[160];
        std::snprintf(text, sizeof text,
                      "Sahara: the chip asked for bytes %llu..%llu of a programmer of %zu bytes",
                      static_cast<unsigned long long>(request.offset),
                      static_cast<unsigned long long>(request.offset + request.size), programmer.size());
        send(SaharaPacket::reset(), "resetting");
        m_failure = {};
        return fail(ModemFailure::Kind::ProgrammerRefused,
                    std::string(text) + "; the programmer does not suit this chip");
    }
    const IoStatus status = sendTransfer(m_link, programmer.data() + request.offset, size_t(request.size),
                                         Clock::now() + m_timeout);
    return status == IoStatus::Ok || linkFailed(status, "sending the programmer");
}

bool SaharaHost::sendProgrammer(const std::string& programmer, const Progress& progress)
{
    // Every packet has its deadline; these bound the whole exchange, so that
    // a ROM restarting or reading the same bytes over and over ends too.
    constexpr int kMaxHellos = 4;
    const uint64_t maxServed = 4 * uint64_t(programmer.size()) + 65536;
    uint64_t served = 0;
    int hellos = 0;
    for (;;) {
        SaharaPacket packet;
        if (!receive(&packet, "waiting for the boot ROM"))
            return false;
        switch (packet.command) {
        case SaharaPacket::Hello:
            if (++hellos > kMaxHellos)
                return fail(ModemFailure::Kind::Protocol, "Sahara: the boot ROM keeps starting over");
            if (!send(SaharaPacket::helloResponse(SaharaPacket::ImageTransferPending), "answering hello"))
                return false;
            break;
        case SaharaPacket::ReadData:
        case SaharaPacket::ReadData64:
            if (served + packet.size > maxServed)
                return fail(ModemFailure::Kind::Protocol, "Sahara: the boot ROM keeps reading the programmer again");
            if (!serveRead(packet, programmer))
                return false;
            served += packet.size;
            if (progress)
                progress(std::min<uint64_t>(served, programmer.size()), programmer.size());
            break;
        case SaharaPacket::EndOfImage:
            if (packet.status != 0) {
                char text[200];
                std::snprintf(text, sizeof text,
                              "The chip refused the programmer (Sahara status 0x%x). It may not match the "
                              "chip's secure-boot keys: use the programmer made for this module.",
                              unsigned(packet.status));
                return fail(ModemFailure::Kind::ProgrammerRefused, text);
            }
            if (!send(SaharaPacket::done(), "ending the transfer"))
                return false;
            break;
        case SaharaPacket::DoneResponse:
            // Only one image is served: "pending" here also means done.
            return true;
        default: {
            char text[80];
            std::snprintf(text, sizeof text, "Sahara: unexpected command 0x%x", unsigned(packet.command));
            return fail(ModemFailure::Kind::Protocol, text);
        }
        }
    }
}

} // namespace modem

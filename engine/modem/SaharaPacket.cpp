#include "SaharaPacket.h"

#include <cstdio>
#include <initializer_list>

namespace modem {

namespace {

uint32_t le32(const unsigned char* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint64_t le64(const unsigned char* p)
{
    return uint64_t(le32(p)) | uint64_t(le32(p + 4)) << 32;
}

void put32(std::string* out, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out->push_back(char((value >> (8 * i)) & 0xff));
}

void put64(std::string* out, uint64_t value)
{
    put32(out, uint32_t(value));
    put32(out, uint32_t(value >> 32));
}

// A packet of the given command made of 32-bit fields.
std::string packet32(uint32_t command, std::initializer_list<uint32_t> fields, size_t size = 0)
{
    std::string out;
    const size_t total = size ? size : SaharaPacket::kHeaderSize + 4 * fields.size();
    put32(&out, command);
    put32(&out, uint32_t(total));
    for (uint32_t field : fields)
        put32(&out, field);
    out.resize(total, '\0');
    return out;
}

} // namespace

size_t SaharaPacket::sizeOf(uint32_t command)
{
    switch (command) {
    case Hello:
    case HelloResponse: return kHelloSize;
    case ReadData: return 0x14;
    case EndOfImage: return 0x10;
    case Done:
    case Reset:
    case ResetResponse:
    case CommandReady: return 0x08;
    case DoneResponse:
    case SwitchMode:
    case Execute:
    case ExecuteData: return 0x0c;
    case ExecuteResponse: return 0x10;
    case ReadData64: return 0x20;
    default: return 0;
    }
}

bool SaharaPacket::parse(const void* data, size_t size, SaharaPacket* out, std::string* why)
{
    const auto* p = static_cast<const unsigned char*>(data);
    char text[128];
    if (size < kHeaderSize) {
        std::snprintf(text, sizeof text, "Sahara packet of %zu bytes is shorter than its header", size);
        *why = text;
        return false;
    }
    SaharaPacket packet;
    packet.command = le32(p);
    packet.length = le32(p + 4);
    const size_t expected = sizeOf(packet.command);
    if (expected == 0) {
        std::snprintf(text, sizeof text, "unknown Sahara command 0x%x", unsigned(packet.command));
        *why = text;
        return false;
    }
    if (packet.length != size || size != expected) {
        std::snprintf(text, sizeof text, "Sahara command 0x%x: length %u, %zu bytes received, %zu expected",
                      unsigned(packet.command), unsigned(packet.length), size, expected);
        *why = text;
        return false;
    }
    const unsigned char* f = p + kHeaderSize;
    switch (packet.command) {
    case Hello:
    case HelloResponse:
        packet.version = le32(f);
        packet.compatible = le32(f + 4);
        packet.maxCommandLength = le32(f + 8);
        packet.status = le32(f + 8);
        packet.mode = le32(f + 12);
        break;
    case ReadData:
        packet.image = le32(f);
        packet.offset = le32(f + 4);
        packet.size = le32(f + 8);
        break;
    case ReadData64:
        packet.image = le64(f);
        packet.offset = le64(f + 8);
        packet.size = le64(f + 16);
        break;
    case EndOfImage:
        packet.image = le32(f);
        packet.status = le32(f + 4);
        break;
    case DoneResponse:
        packet.status = le32(f);
        break;
    case SwitchMode:
        packet.mode = le32(f);
        break;
    case Execute:
    case ExecuteData:
        packet.clientCommand = le32(f);
        break;
    case ExecuteResponse:
        packet.clientCommand = le32(f);
        packet.dataLength = le32(f + 4);
        break;
    default:
        break;
    }
    *out = packet;
    return true;
}

std::string SaharaPacket::hello(uint32_t mode, uint32_t maxCommandLength)
{
    return packet32(Hello, {kVersion, kVersionCompatible, maxCommandLength, mode}, kHelloSize);
}

std::string SaharaPacket::helloResponse(uint32_t mode, uint32_t status)
{
    return packet32(HelloResponse, {kVersion, kVersionCompatible, status, mode}, kHelloSize);
}

std::string SaharaPacket::readData(uint32_t image, uint32_t offset, uint32_t length)
{
    return packet32(ReadData, {image, offset, length});
}

std::string SaharaPacket::readData64(uint64_t image, uint64_t offset, uint64_t length)
{
    std::string out;
    put32(&out, ReadData64);
    put32(&out, uint32_t(sizeOf(ReadData64)));
    put64(&out, image);
    put64(&out, offset);
    put64(&out, length);
    return out;
}

std::string SaharaPacket::endOfImage(uint32_t image, uint32_t status) { return packet32(EndOfImage, {image, status}); }
std::string SaharaPacket::done() { return packet32(Done, {}); }
std::string SaharaPacket::doneResponse(uint32_t status) { return packet32(DoneResponse, {status}); }
std::string SaharaPacket::reset() { return packet32(Reset, {}); }
std::string SaharaPacket::commandReady() { return packet32(CommandReady, {}); }
std::string SaharaPacket::switchMode(uint32_t mode) { return packet32(SwitchMode, {mode}); }
std::string SaharaPacket::execute(uint32_t clientCommand) { return packet32(Execute, {clientCommand}); }

std::string SaharaPacket::executeResponse(uint32_t clientCommand, uint32_t dataLength)
{
    return packet32(ExecuteResponse, {clientCommand, dataLength});
}

std::string SaharaPacket::executeData(uint32_t clientCommand) { return packet32(ExecuteData, {clientCommand}); }

} // namespace modem

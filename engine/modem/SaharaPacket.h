#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace modem {

// One packet of the boot ROM's Sahara protocol: a little-endian header of
// command and total length, then the command's fields. Parsing checks the
// length of every packet against both the bytes received and the size its
// command has, so a short, long or lying packet is refused, never read past.
struct SaharaPacket
{
    enum Command : uint32_t {
        Hello = 0x01,           // target: protocol version, mode
        HelloResponse = 0x02,   // host
        ReadData = 0x03,        // target: image, offset, length (32-bit)
        EndOfImage = 0x04,      // target: image, status
        Done = 0x05,            // host
        DoneResponse = 0x06,    // target: image transfer status
        Reset = 0x07,           // host
        ResetResponse = 0x08,   // target
        CommandReady = 0x0b,    // target: command mode entered
        SwitchMode = 0x0c,      // host: mode
        Execute = 0x0d,         // host: client command
        ExecuteResponse = 0x0e, // target: client command, data length
        ExecuteData = 0x0f,     // host: client command; the data follows raw
        ReadData64 = 0x12,      // target: image, offset, length (64-bit)
    };

    enum Mode : uint32_t {
        ImageTransferPending = 0,
        ImageTransferComplete = 1,
        MemoryDebug = 2,
        CommandMode = 3,
    };

    // Client commands of command mode.
    enum ClientCommand : uint32_t {
        SerialNumberRead = 0x01,
        HardwareIdRead = 0x02,
    };

    static constexpr size_t kHeaderSize = 8;
    static constexpr size_t kHelloSize = 0x30;
    static constexpr uint32_t kVersion = 2;
    static constexpr uint32_t kVersionCompatible = 1;

    uint32_t command = 0;
    uint32_t length = 0;
    // Hello / HelloResponse.
    uint32_t version = 0;
    uint32_t compatible = 0;
    uint32_t maxCommandLength = 0; // Hello; HelloResponse carries a status there
    uint32_t mode = 0;
    // ReadData / ReadData64 / EndOfImage.
    uint64_t image = 0;
    uint64_t offset = 0;
    uint64_t size = 0;
    // EndOfImage, DoneResponse, HelloResponse.
    uint32_t status = 0;
    // SwitchMode, Execute, ExecuteResponse, ExecuteData.
    uint32_t clientCommand = 0;
    uint32_t dataLength = 0;

    // The size a packet of this command has; 0 for commands not known here.
    static size_t sizeOf(uint32_t command);
    static bool parse(const void* data, size_t size, SaharaPacket* out, std::string* why);

    // The packets on the wire.
    static std::string hello(uint32_t mode, uint32_t maxCommandLength = 0x1000);
    static std::string helloResponse(uint32_t mode, uint32_t status = 0);
    static std::string readData(uint32_t image, uint32_t offset, uint32_t length);
    static std::string readData64(uint64_t image, uint64_t offset, uint64_t length);
    static std::string endOfImage(uint32_t image, uint32_t status);
    static std::string done();
    static std::string doneResponse(uint32_t status);
    static std::string reset();
    static std::string commandReady();
    static std::string switchMode(uint32_t mode);
    static std::string execute(uint32_t clientCommand);
    static std::string executeResponse(uint32_t clientCommand, uint32_t dataLength);
    static std::string executeData(uint32_t clientCommand);
};

} // namespace modem

#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fastboot {

// One reply packet of a device: four bytes of kind, then text. A reply is at
// most 256 bytes; the text ends at its first zero byte.
struct FastbootReply
{
    enum class Kind { Okay, Fail, Data, Info, Text, Invalid };

    static constexpr size_t kMaxSize = 256;

    Kind kind = Kind::Invalid;
    std::string text;      // after the kind, control characters replaced; for Invalid a printable excerpt
    uint32_t dataSize = 0; // for Data: the size the device is ready for

    // Never fails: anything that is no reply comes back as Invalid.
    static FastbootReply parse(const char* bytes, size_t size);
};

} // namespace fastboot

#include "FastbootReply.h"

#include "DeviceText.h"

#include <cstring>

namespace fastboot {

namespace {

// Printable ASCII of a garbage reply, for the line's message.
std::string excerpt(const char* bytes, size_t size)
{
    std::string out;
    for (size_t i = 0; i < size && i < 32; ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        out += (c >= 0x20 && c < 0x7f) ? char(c) : '?';
    }
    return out;
}

bool hexDigit(char c, uint32_t* value)
{
    if (c >= '0' && c <= '9')
        *value = uint32_t(c - '0');
    else if (c >= 'a' && c <= 'f')
        *value = uint32_t(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F')
        *value = uint32_t(c - 'A' + 10);
    else
        return false;
    return true;
}

} // namespace

FastbootReply FastbootReply::parse(const char* bytes, size_t size)
{
    FastbootReply reply;
    if (size < 4 || size > kMaxSize) {
        reply.text = excerpt(bytes, size);
        return reply;
    }
    static constexpr struct { const char* tag; Kind kind; } kinds[] = {
        {"OKAY", Kind::Okay}, {"FAIL", Kind::Fail}, {"DATA", Kind::Data},
        {"INFO", Kind::Info}, {"TEXT", Kind::Text},
    };
    for (const auto& k : kinds) {
        if (std::memcmp(bytes, k.tag, 4) == 0)
            reply.kind = k.kind;
    }
    const char* end = static_cast<const char*>(std::memchr(bytes + 4, '\0', size - 4));
    reply.text.assign(bytes + 4, end ? end : bytes + size);
    if (reply.kind != Kind::Invalid && reply.kind != Kind::Data)
        reply.text = DeviceText::clean(reply.text); // nothing raw from a device leaves the engine
    if (reply.kind == Kind::Invalid) {
        reply.text = excerpt(bytes, size);
    } else if (reply.kind == Kind::Data) {
        // Exactly eight hex digits, as the device's "DATA%08x".
        uint32_t value = 0;
        bool ok = reply.text.size() == 8;
        for (size_t i = 0; ok && i < 8; ++i) {
            uint32_t digit = 0;
            ok = hexDigit(reply.text[i], &digit);
            value = value << 4 | digit;
        }
        if (!ok) {
            reply.kind = Kind::Invalid;
            reply.text = excerpt(bytes, size);
        }
        reply.dataSize = value;
    }
    return reply;
}

} // namespace fastboot

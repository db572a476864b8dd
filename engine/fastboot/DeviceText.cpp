#include "DeviceText.h"

namespace fastboot::DeviceText {

namespace {

// The length of the valid UTF-8 sequence at text[i] and its code point; 0
// when the bytes there are no valid sequence (overlong forms, surrogates and
// values past U+10FFFF included).
size_t sequenceAt(std::string_view text, size_t i, char32_t* codePoint)
{
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    size_t length = 0;
    char32_t value = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
        *codePoint = lead;
        return 1;
    } else if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2, value = lead & 0x1f, minimum = 0x80;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3, value = lead & 0x0f, minimum = 0x800;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4, value = lead & 0x07, minimum = 0x10000;
    } else {
        return 0;
    }
    if (i + length > text.size())
        return 0;
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xc0) != 0x80)
            return 0;
        value = value << 6 | (byte(i + k) & 0x3f);
    }
    if (value < minimum || value > 0x10ffff || (value >= 0xd800 && value <= 0xdfff))
        return 0;
    *codePoint = value;
    return length;
}

} // namespace

std::string clean(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        char32_t c = 0;
        const size_t n = sequenceAt(text, i, &c);
        if (n == 0) {
            out += '?';
            ++i;
            continue;
        }
        if (c == '\t' || c == '\r' || c == '\n')
            out += ' ';
        else if (c < 0x20 || c == 0x7f || (c >= 0x80 && c <= 0x9f))
            out += '?';
        else
            out.append(text.substr(i, n));
        i += n;
    }
    return out;
}

std::string field(std::string_view text)
{
    std::string out = clean(text);
    for (char& c : out) {
        if (c == ',')
            c = ';';
    }
    return out;
}

} // namespace fastboot::DeviceText

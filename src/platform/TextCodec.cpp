#include "platform/TextCodec.h"

#include <cerrno>

#include <iconv.h>

namespace TextCodec {
namespace {

// Length of the valid UTF-8 prefix of bytes. *incompleteTail is set when
// the rest is only the start of a character cut off at the end.
qsizetype validUtf8Prefix(const QByteArray& bytes, bool* incompleteTail)
{
    *incompleteTail = false;
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    while (i < n) {
        const unsigned char c = s[i];
        int len;
        unsigned char lo = 0x80, hi = 0xBF; // range of the second byte
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            len = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            if (c == 0xE0)
                lo = 0xA0; // no overlong forms
            if (c == 0xED)
                hi = 0x9F; // no surrogates
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            if (c == 0xF0)
                lo = 0x90;
            if (c == 0xF4)
                hi = 0x8F; // nothing above U+10FFFF
        } else {
            return i;
        }
        for (int k = 1; k < len; ++k) {
            if (i + k == n) {
                *incompleteTail = true;
                return i;
            }
            const unsigned char b = s[i + k];
            const bool ok = k == 1 ? (b >= lo && b <= hi) : (b >= 0x80 && b <= 0xBF);
            if (!ok)
                return i;
        }
        i += len;
    }
    return i;
}

QString decodeGbk(const QByteArray& bytes)
{
    iconv_t cd = iconv_open("UTF-8", "CP936");
    if (cd == reinterpret_cast<iconv_t>(-1))
        cd = iconv_open("UTF-8", "GBK");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return QString::fromLatin1(bytes);

    QByteArray input = bytes;
    char* in = input.data();
    size_t inLeft = static_cast<size_t>(input.size());
    QByteArray output(input.size() * 3 + 4, Qt::Uninitialized); // GBK never grows beyond 3x
    char* out = output.data();
    size_t outLeft = static_cast<size_t>(output.size());
    while (inLeft > 0) {
        if (iconv(cd, &in, &inLeft, &out, &outLeft) != static_cast<size_t>(-1))
            break;
        if (errno == EINVAL)
            break; // a double-byte character cut off at the end: drop it
        if (errno != EILSEQ || outLeft < 3)
            break;
        // A byte that is no GBK: show a replacement character, go on.
        *out++ = '\xEF';
        *out++ = '\xBF';
        *out++ = '\xBD';
        outLeft -= 3;
        ++in;
        --inLeft;
    }
    iconv_close(cd);
    output.truncate(output.size() - static_cast<qsizetype>(outLeft));
    return QString::fromUtf8(output);
}

} // namespace

QString decode(const QByteArray& bytes)
{
    bool incompleteTail = false;
    const qsizetype valid = validUtf8Prefix(bytes, &incompleteTail);
    if (valid == bytes.size() || incompleteTail)
        return QString::fromUtf8(bytes.constData(), valid);
    return decodeGbk(bytes);
}

QByteArray encode(const QString& text)
{
    return text.toUtf8();
}

} // namespace TextCodec

#pragma once

#include <QByteArray>

#include <array>
#include <cstdint>

// The RC4 stream cipher. An object is the keystream at one position: a copy
// kept after the last byte of a file continues the keystream there, so an
// append needs no pass over the bytes before it.
class Rc4 final
{
public:
    explicit Rc4(const QByteArray& key);

    // Combines size bytes in place with the next bytes of the keystream;
    // encryption and decryption are the same operation.
    void apply(char* data, qint64 size);
    void apply(QByteArray& data) { apply(data.data(), data.size()); }

    // Moves the keystream on by count bytes without data.
    void skip(qint64 count);

private:
    std::uint8_t next();

    std::array<std::uint8_t, 256> m_s{};
    std::uint8_t m_i = 0;
    std::uint8_t m_j = 0;
};

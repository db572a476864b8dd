#include "records/Rc4.h"

#include <utility>

Rc4::Rc4(const QByteArray& key)
{
    for (int n = 0; n < 256; ++n)
        m_s[n] = std::uint8_t(n);
    if (key.isEmpty())
        return;
    std::uint8_t j = 0;
    for (int n = 0; n < 256; ++n) {
        j = std::uint8_t(j + m_s[n] + std::uint8_t(key[n % key.size()]));
        std::swap(m_s[n], m_s[j]);
    }
}

std::uint8_t Rc4::next()
{
    m_i = std::uint8_t(m_i + 1);
    m_j = std::uint8_t(m_j + m_s[m_i]);
    std::swap(m_s[m_i], m_s[m_j]);
    return m_s[std::uint8_t(m_s[m_i] + m_s[m_j])];
}

void Rc4::apply(char* data, qint64 size)
{
    for (qint64 n = 0; n < size; ++n)
        data[n] = char(std::uint8_t(data[n]) ^ next());
}

void Rc4::skip(qint64 count)
{
    for (qint64 n = 0; n < count; ++n)
        next();
}

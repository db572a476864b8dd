#include "platform/IniFile.h"

#include <QFile>

namespace {

std::string_view view(const QByteArray& bytes)
{
    return std::string_view(bytes.constData(), size_t(bytes.size()));
}

QByteArray bytes(const std::string& text)
{
    return QByteArray(text.data(), qsizetype(text.size()));
}

} // namespace

IniFile::IniFile(QString path)
    : m_path(std::move(path))
    , m_text(QFile::encodeName(m_path).toStdString())
{
}

QByteArray IniFile::readText(const QByteArray& section, const QByteArray& key,
                             const QByteArray& defaultValue, int capacity) const
{
    return bytes(m_text.readText(view(section), view(key), view(defaultValue), capacity));
}

int IniFile::readInt(const QByteArray& section, const QByteArray& key, int defaultValue) const
{
    return m_text.readInt(view(section), view(key), defaultValue);
}

bool IniFile::writeText(const QByteArray& section, const QByteArray& key, const QByteArray& value) const
{
    return m_text.writeText(view(section), view(key), view(value));
}

bool IniFile::exists() const
{
    return m_text.exists();
}

int LeadingInt(const QByteArray& text)
{
    return IniText::leadingInt(view(text));
}

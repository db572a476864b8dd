#include "platform/AtomicFile.h"

#include <QFile>

bool AtomicFile::replace(const QString& path, const QByteArray& content, int* error)
{
    return AtomicWriter::replace(QFile::encodeName(path).toStdString(),
                                 std::string_view(content.constData(), size_t(content.size())), error);
}

AtomicFile::AtomicFile(QString path)
    : m_writer(QFile::encodeName(path).toStdString())
{
}

AtomicFile::~AtomicFile() = default;

bool AtomicFile::open()
{
    return m_writer.open();
}

bool AtomicFile::append(const char* data, qint64 size)
{
    return m_writer.append(data, size);
}

bool AtomicFile::commit()
{
    return m_writer.commit();
}

int AtomicFile::error() const
{
    return m_writer.error();
}

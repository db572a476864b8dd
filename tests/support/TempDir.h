#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// A temporary folder that ends with "/", with small file helpers.
class TempDir final
{
public:
    TempDir();
    QString path() const; // ends with "/"
    QString file(const QString& name) const { return path() + name; }
    void write(const QString& name, const QByteArray& content) const;
    QByteArray read(const QString& name) const;
    bool exists(const QString& name) const;

private:
    QTemporaryDir m_dir;
};

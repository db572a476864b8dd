#include "support/TempDir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <cstdio>

TempDir::TempDir()
{
    EXPECT_TRUE(m_dir.isValid());
}

QString TempDir::path() const
{
    return m_dir.path() + QLatin1Char('/');
}

void TempDir::write(const QString& name, const QByteArray& content) const
{
    const QString full = file(name);
    QDir().mkpath(QFileInfo(full).absolutePath());
    // Written aside and renamed over the old file, as the station writes
    // its files: an engine thread that reads it meanwhile (config.ini) sees
    // the old text or the new one, never a truncated one.
    const QString part = full + QStringLiteral(".part");
    QFile f(part);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << part.toStdString();
    ASSERT_EQ(f.write(content), content.size());
    f.close();
    ASSERT_EQ(std::rename(QFile::encodeName(part).constData(), QFile::encodeName(full).constData()), 0)
        << full.toStdString();
}

QByteArray TempDir::read(const QString& name) const
{
    QFile f(file(name));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

bool TempDir::exists(const QString& name) const
{
    return QFileInfo::exists(file(name));
}

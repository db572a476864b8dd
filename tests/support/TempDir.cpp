#include "support/TempDir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

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
    QFile f(full);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << full.toStdString();
    ASSERT_EQ(f.write(content), content.size());
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

#pragma once

#include "records/Rc4.h"
#include "records/RecordCipher.h"
#include "records/RecordLine.h"
#include "records/SampleRecord.h"
#include "support/TempDir.h"

#include <QByteArray>
#include <QFile>
#include <QDir>
#include <QString>

#include <gtest/gtest.h>

// Reads and writes record files in memory, for checks that do not go
// through the code under test.
namespace RecordTestFiles {

inline QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline QByteArray crypt(QByteArray data)
{
    Rc4 rc4(RecordCipher::KeyFor("7391"));
    rc4.apply(data);
    return data;
}

inline QByteArray decrypted(const QString& path)
{
    return crypt(readAll(path));
}

inline void writeRaw(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(bytes);
}

inline void writeEncrypted(const QString& path, const QByteArray& plain)
{
    writeRaw(path, crypt(plain));
}

inline const QByteArray kTitle =
    "IMEI, Product, Result, DeviceVersion, Date, Station, PackageVersion, Check1, Check2, "
    "Check3, Check4, Check5, Check6, Check7, Check8, Check9, Check10, Check11, Check12\r\n";

// A station folder with the installed record file and an empty data folder.
class RecordStation : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QDir().mkpath(m_dir.file("station"));
        QDir().mkpath(m_dir.file("data"));
        writeEncrypted(recordFile(), kTitle);
    }
    QString recordFile() const { return m_dir.file("station/RecordCSV.sdi"); }
    QString dataDir() const { return m_dir.file("data/"); }

    TempDir m_dir;
};

} // namespace RecordTestFiles

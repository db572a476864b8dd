// Build tool: writes the installed record file, the encrypted title line that
// every new working copy of the record log starts with.
#include "records/Rc4.h"

#include <QCryptographicHash>
#include <QFile>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output file>\n", argv[0]);
        return 2;
    }
    QByteArray title = "IMEI, Product, Result, DeviceVersion, Date, Station, PackageVersion";
    for (int n = 1; n <= 12; ++n)
        title += ", Check" + QByteArray::number(n);
    title += "\r\n";

    Rc4 rc4(QCryptographicHash::hash("7391", QCryptographicHash::Md5));
    rc4.apply(title);

    QFile out(QString::fromLocal8Bit(argv[1]));
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(title) != title.size()
        || !out.flush()) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}

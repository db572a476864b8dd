#include "lines/VersionStem.h"

QByteArray VersionStem(const QByteArray& text)
{
    const qsizetype v = text.lastIndexOf('V');
    return v < 0 ? QByteArray() : text.left(v);
}

QByteArray StemTail(const QByteArray& text)
{
    const QByteArray stem = VersionStem(text);
    const qsizetype p = stem.indexOf('_');
    return p < 0 ? stem : stem.right(p);
}

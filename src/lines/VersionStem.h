#pragma once

#include <QByteArray>

// A version text such as ABC_DE_V1.0 names its product line before the last
// capital V (byte 0x56) and its version number after it. Byte-exact: a
// lower-case v does not count.

// The text before the last 'V': ABC_DE_V1.0 gives ABC_DE_. Empty without a V.
QByteArray VersionStem(const QByteArray& text);

// The stem's tail: with the stem's first underscore at position p, the last p
// bytes of the stem (ABC_DE_V1.0: stem ABC_DE_, p = 3, tail DE_); the whole
// stem when it has no underscore.
QByteArray StemTail(const QByteArray& text);

#pragma once

#include <QByteArray>
#include <QString>

// INI values are bytes. Language files written on the original platform are
// GBK; ours are UTF-8.
namespace TextCodec {

// UTF-8 when the bytes are valid UTF-8 (an incomplete character at the very
// end, left by a byte cut, is dropped), otherwise GBK through iconv.
QString decode(const QByteArray& bytes);
// Texts the tool writes into its files are UTF-8.
QByteArray encode(const QString& text);

} // namespace TextCodec

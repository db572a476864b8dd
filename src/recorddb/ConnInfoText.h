#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// What of a record database's connection text may be shown. libpq quotes
// parts of a connection text it cannot read, and a malformed URL may carry
// its password anywhere; every text that comes from the URL or from libpq's
// connection errors passes through here before a box, a log or stderr.
namespace ConnInfoText {

// A libpq connection string or URI (rather than a bare database name).
bool isConnInfo(const QByteArray& conninfo);

// Every text in conninfo that is, or may be meant as, a password: libpq's
// own reading, the user part of a URL split at each "@", "password="
// parameters quoted or not, each raw and percent-decoded.
QList<QByteArray> passwordsIn(const QByteArray& conninfo);

// text with each password of conninfo replaced by "***", and every quoted
// part that overlaps one replaced by "…". With allQuoted, every quoted part
// goes (for libpq's complaints about the connection text itself, which
// quote it).
QString hidePasswords(const QString& text, const QByteArray& conninfo, bool allQuoted = false);

// part itself, or "…" when it overlaps a password of conninfo: for the
// host, user and database that libpq read from a malformed URL.
QString hidePart(const QString& part, const QByteArray& conninfo);

} // namespace ConnInfoText

#include "recorddb/ConnInfoText.h"

#include <libpq-fe.h>

#include <QRegularExpression>

#include <algorithm>
#include <cstring>

namespace ConnInfoText {
namespace {

// Shorter passwords are hidden where quoted, but not wherever the letters
// happen to occur, which would make the message unreadable.
constexpr qsizetype kShortestHiddenEverywhere = 3;

void addCandidate(QList<QByteArray>* out, const QByteArray& value)
{
    if (value.isEmpty())
        return;
    out->append(value);
    const QByteArray decoded = QByteArray::fromPercentEncoding(value);
    if (decoded != value && !decoded.isEmpty())
        out->append(decoded);
}

void addFromUri(QList<QByteArray>* out, const QByteArray& conninfo)
{
    for (const char* scheme : {"postgresql://", "postgres://"}) {
        if (!conninfo.startsWith(scheme))
            continue;
        const QByteArray rest = conninfo.mid(qsizetype(std::strlen(scheme)));
        // The user part ends at an "@"; which one a malformed URL meant is
        // not known, so each counts.
        for (qsizetype at = rest.indexOf('@'); at >= 0; at = rest.indexOf('@', at + 1)) {
            const QByteArray userInfo = rest.left(at);
            const qsizetype colon = userInfo.indexOf(':');
            if (colon < 0)
                continue;
            const QByteArray password = userInfo.mid(colon + 1);
            addCandidate(out, password);
            // libpq ends the user part at the first "@" and the host at a
            // "/", "?" or ":": the pieces of a password that holds one of
            // these unencoded become host, port or database.
            static const QRegularExpression separators(QStringLiteral("[@/?#:]"));
            const QString text = QString::fromUtf8(password);
            if (text.contains(separators)) {
                for (const QString& piece : text.split(separators, Qt::SkipEmptyParts))
                    addCandidate(out, piece.toUtf8());
            }
        }
        const qsizetype query = rest.indexOf('?');
        if (query >= 0) {
            for (const QByteArray& part : rest.mid(query + 1).split('&')) {
                if (part.startsWith("password="))
                    addCandidate(out, part.mid(9));
            }
        }
    }
}

void addFromKeywords(QList<QByteArray>* out, const QByteArray& conninfo)
{
    static const QRegularExpression pattern(
        QStringLiteral(R"(password\s*=\s*(?:'((?:\\.|[^'\\])*)'?|(\S+)))"));
    const QString text = QString::fromUtf8(conninfo);
    for (auto it = pattern.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        if (m.capturedLength(1) > 0) {
            QString quoted = m.captured(1);
            addCandidate(out, quoted.toUtf8());
            static const QRegularExpression escape(QStringLiteral(R"(\\(.))"));
            addCandidate(out, quoted.replace(escape, QStringLiteral("\\1")).toUtf8());
        }
        addCandidate(out, m.captured(2).toUtf8());
    }
}

void addFromLibpq(QList<QByteArray>* out, const QByteArray& conninfo)
{
    if (!isConnInfo(conninfo))
        return;
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(conninfo.constData(), &error);
    PQfreemem(error);
    if (!options)
        return;
    for (PQconninfoOption* o = options; o->keyword; ++o) {
        if (o->val && !std::strcmp(o->keyword, "password"))
            addCandidate(out, QByteArray(o->val));
    }
    PQconninfoFree(options);
}

} // namespace

bool isConnInfo(const QByteArray& conninfo)
{
    return conninfo.contains('=') || conninfo.startsWith("postgresql://") || conninfo.startsWith("postgres://");
}

QList<QByteArray> passwordsIn(const QByteArray& conninfo)
{
    QList<QByteArray> out;
    addFromLibpq(&out, conninfo);
    addFromUri(&out, conninfo);
    addFromKeywords(&out, conninfo);
    std::sort(out.begin(), out.end(), [](const QByteArray& a, const QByteArray& b) { return a.size() > b.size(); });
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

namespace {

bool overlaps(const QString& part, const QList<QString>& secrets)
{
    return std::any_of(secrets.begin(), secrets.end(), [&](const QString& s) {
        return part.contains(s) || (!part.isEmpty() && s.contains(part));
    });
}

QList<QString> secretsOf(const QByteArray& conninfo)
{
    QList<QString> secrets;
    for (const QByteArray& p : passwordsIn(conninfo))
        secrets << QString::fromUtf8(p);
    return secrets;
}

} // namespace

QString hidePart(const QString& part, const QByteArray& conninfo)
{
    return overlaps(part, secretsOf(conninfo)) ? QStringLiteral("…") : part;
}

QString hidePasswords(const QString& text, const QByteArray& conninfo, bool allQuoted)
{
    const QList<QString> secrets = secretsOf(conninfo);
    if (secrets.isEmpty() && !allQuoted)
        return text;

    // Quoted parts first: libpq quotes the values it complains about, and a
    // part of a password is as secret as the whole.
    static const QRegularExpression quoted(QStringLiteral(R"("([^"]*)\")"));
    QString out;
    qsizetype from = 0;
    for (auto it = quoted.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        const QString inside = m.captured(1);
        const bool secret = allQuoted || overlaps(inside, secrets);
        out += text.mid(from, m.capturedStart() - from);
        out += secret ? QStringLiteral("\"…\"") : m.captured(0);
        from = m.capturedEnd();
    }
    out += text.mid(from);
    for (const QString& s : secrets) {
        if (s.size() >= kShortestHiddenEverywhere)
            out.replace(s, QStringLiteral("***"));
    }
    return out;
}

} // namespace ConnInfoText

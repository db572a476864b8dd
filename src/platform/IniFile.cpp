#include "platform/IniFile.h"

#include "platform/AtomicFile.h"

#include <QFile>
#include <QFileInfo>

#include <climits>

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

QByteArrayView trimmed(QByteArrayView text)
{
    qsizetype b = 0;
    qsizetype e = text.size();
    while (b < e && isBlank(text[b]))
        ++b;
    while (e > b && isBlank(text[e - 1]))
        --e;
    return text.sliced(b, e - b);
}

char asciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

bool sameName(QByteArrayView a, QByteArrayView b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (asciiLower(a[i]) != asciiLower(b[i]))
            return false;
    }
    return true;
}

bool isQuote(char c)
{
    return c == '"' || c == '\'';
}

QByteArrayView unquoted(QByteArrayView value)
{
    if (value.size() >= 2 && isQuote(value.front()) && value.front() == value.back())
        return value.sliced(1, value.size() - 2);
    return value;
}

// Where the first section of a name and its first key of a name lie.
struct Scan
{
    bool sectionFound = false;
    bool keyFound = false;
    qsizetype keyBegin = 0;   // key line, terminator excluded
    qsizetype keyEnd = 0;
    QByteArrayView keyName;   // as spelt in the file, trimmed
    QByteArrayView value;     // trimmed, still quoted
    qsizetype insertAt = 0;   // just after the section's last key (or header) line
};

Scan scan(const QByteArray& data, QByteArrayView section, QByteArrayView key)
{
    Scan result;
    bool inSection = false;
    qsizetype pos = data.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    while (pos < data.size()) {
        qsizetype next = data.indexOf('\n', pos);
        next = next < 0 ? data.size() : next + 1;
        const QByteArrayView line = QByteArrayView(data).sliced(pos, next - pos);
        const QByteArrayView content = trimmed(line.endsWith('\n') ? line.chopped(1) : line);
        const qsizetype begin = pos;
        pos = next;

        if (content.startsWith('[')) {
            if (inSection)
                break; // only the first section of the name counts
            QByteArrayView name = content.sliced(1);
            const qsizetype close = name.indexOf(']');
            if (close >= 0)
                name = name.first(close);
            if (sameName(trimmed(name), section)) {
                inSection = true;
                result.sectionFound = true;
                result.insertAt = next;
            }
            continue;
        }
        const qsizetype eq = content.indexOf('=');
        if (!inSection || eq < 0)
            continue;
        result.insertAt = next;
        const QByteArrayView name = trimmed(content.first(eq));
        if (sameName(name, key)) {
            result.keyFound = true;
            result.keyBegin = begin;
            result.keyEnd = (content.data() - data.constData()) + content.size();
            result.keyName = name;
            result.value = trimmed(content.sliced(eq + 1));
            break;
        }
    }
    return result;
}

bool readAll(const QString& path, QByteArray* data)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    *data = file.readAll();
    return file.error() == QFileDevice::NoError;
}

// A value that reading would trim or unquote goes into double quotes.
QByteArray quotedIfNeeded(const QByteArray& value)
{
    if (value.isEmpty())
        return value;
    const bool blankEdge = isBlank(value.front()) || isBlank(value.back());
    const bool quoted = value.size() >= 2 && isQuote(value.front()) && value.front() == value.back();
    return (blankEdge || quoted) ? '"' + value + '"' : value;
}

bool holdsLineBreak(QByteArrayView text)
{
    return text.contains('\n') || text.contains('\r');
}

} // namespace

IniFile::IniFile(QString path)
    : m_path(std::move(path))
{
}

QByteArray IniFile::readText(const QByteArray& section, const QByteArray& key,
                             const QByteArray& defaultValue, int capacity) const
{
    if (capacity < 2)
        return {};
    QByteArray data;
    QByteArray value = defaultValue;
    if (readAll(m_path, &data)) {
        const Scan found = scan(data, trimmed(section), trimmed(key));
        if (found.keyFound)
            value = unquoted(found.value).toByteArray();
    }
    value.truncate(capacity - 1);
    return value;
}

int IniFile::readInt(const QByteArray& section, const QByteArray& key, int defaultValue) const
{
    const QByteArray value = readText(section, key, {}, INT_MAX);
    return value.isEmpty() ? defaultValue : LeadingInt(value);
}

bool IniFile::writeText(const QByteArray& section, const QByteArray& key, const QByteArray& value) const
{
    const QByteArrayView sectionName = trimmed(section);
    const QByteArrayView keyName = trimmed(key);
    if (holdsLineBreak(section) || holdsLineBreak(key) || holdsLineBreak(value)
        || sectionName.contains(']') || keyName.contains('=') || keyName.startsWith('['))
        return false;

    QByteArray data;
    const bool existed = exists();
    if (existed && !readAll(m_path, &data))
        return false;
    const QByteArray eol = data.contains("\r\n") ? "\r\n" : "\n";
    const Scan found = scan(data, sectionName, keyName);
    const QByteArray text = quotedIfNeeded(value);

    QByteArray out;
    if (found.keyFound) {
        out = data.left(found.keyBegin) + found.keyName.toByteArray() + '=' + text + data.mid(found.keyEnd);
    } else if (found.sectionFound) {
        QByteArray before = data.left(found.insertAt);
        if (!before.endsWith('\n'))
            before += eol;
        out = before + keyName.toByteArray() + '=' + text + eol + data.mid(found.insertAt);
    } else {
        out = data;
        if (!out.isEmpty() && !out.endsWith('\n'))
            out += eol;
        out += '[' + sectionName.toByteArray() + ']' + eol + keyName.toByteArray() + '=' + text + eol;
    }
    if (existed && out == data)
        return true;
    return AtomicFile::replace(m_path, out);
}

bool IniFile::exists() const
{
    const QFileInfo info(m_path);
    return info.exists() && !info.isDir();
}

int LeadingInt(const QByteArray& text)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Accumulate as a negative number: its range holds INT_MIN.
    long long value = 0;
    for (; i < n && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 - (text[i] - '0');
        if (value < INT_MIN) {
            value = INT_MIN - 1LL;
            break;
        }
    }
    if (negative)
        return value < INT_MIN ? INT_MIN : int(value);
    return value < -static_cast<long long>(INT_MAX) ? INT_MAX : int(-value);
}

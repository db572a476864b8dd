#pragma once

#include "core/IniText.h"

#include <QByteArray>
#include <QString>

// The tool's face of IniText, taking Qt paths and bytes. INI access with the
// semantics station files rely on: section and key names
// match without regard to (ASCII) case, blanks around names and values are
// trimmed, a value in matching double or single quotes loses them, the first
// section and the first key of a name win. Lines without "=" inside a
// section are ignored by reads. A UTF-8 byte order mark at the start of the
// file is skipped. Every call opens the file anew (no cache), so a read sees
// every earlier write, also one made by another process. Values are bytes;
// TextCodec decodes them for display.
//
// A write keeps every other line of the file byte for byte and replaces the
// file atomically (AtomicFile), creating file, section and key as needed: a
// new key goes after the last key line of its section, a new section at the
// end of the file; the added line ends in "\r\n" when the file uses it.
class IniFile final
{
public:
    explicit IniFile(QString path);

    const QString& path() const { return m_path; }

    // The value, or defaultValue when file, section or key is missing; cut to
    // capacity - 1 bytes (nothing for a capacity below 2).
    QByteArray readText(const QByteArray& section, const QByteArray& key,
                        const QByteArray& defaultValue = {}, int capacity = 4001) const;

    // The decimal integer at the start of the value (optional sign, digits);
    // 0 when the value does not start with a number; defaultValue when the
    // key or file is missing or the value is empty.
    int readInt(const QByteArray& section, const QByteArray& key, int defaultValue = 0) const;

    // Sets the key; false when the file could not be written. Names or a
    // value holding a line break (or a section name holding "]", a key
    // holding "=") are refused, since they would turn into other lines. A
    // value that reading would trim or unquote is written in double quotes,
    // so that it reads back exactly as given.
    bool writeText(const QByteArray& section, const QByteArray& key, const QByteArray& value) const;

    // True when the file exists.
    bool exists() const;

private:
    QString m_path;
    IniText m_text;
};

// The leading decimal integer of a text: leading blanks skipped, optional
// sign, digits; no digits read as 0 (C's atoi, without its overflow hazard:
// out-of-range numbers clamp to the int range).
int LeadingInt(const QByteArray& text);

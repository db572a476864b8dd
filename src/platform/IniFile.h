#pragma once

#include <QByteArray>
#include <QString>

// INI access with the semantics station files rely on: section and key names
// match without regard to case, blanks around names and values are trimmed,
// a value in matching double or single quotes loses them, the first section
// and the first key of a name win. Every call opens the file anew (no cache).
// Values are bytes; TextCodec decodes them for display.
//
// A write keeps every other line of the file byte for byte and replaces the
// file atomically, creating file, section and key as needed.
class IniFile final
{
public:
    explicit IniFile(QString path);

    const QString& path() const { return m_path; }

    // The value, or defaultValue when file, section or key is missing; cut to
    // capacity - 1 bytes.
    QByteArray readText(const QByteArray& section, const QByteArray& key,
                        const QByteArray& defaultValue = {}, int capacity = 4001) const;

    // The decimal integer at the start of the value (optional sign, digits);
    // 0 when the value does not start with a number; defaultValue when the
    // key or file is missing.
    int readInt(const QByteArray& section, const QByteArray& key, int defaultValue = 0) const;

    // Sets the key; false when the file could not be written.
    bool writeText(const QByteArray& section, const QByteArray& key, const QByteArray& value) const;

    // True when the file exists.
    bool exists() const;

private:
    QString m_path;
};

// The leading decimal integer of a text: leading blanks skipped, optional
// sign, digits; no digits read as 0 (C's atoi, without its overflow hazard).
int LeadingInt(const QByteArray& text);

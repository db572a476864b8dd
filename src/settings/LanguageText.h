#pragma once

#include <QByteArray>
#include <QString>

// The active language file, chosen once per process from "LANG" of
// config.ini and the user's default language. Lookups read the file anew.
class LanguageText
{
public:
    // Reads "LANG" from config.ini of exeDir (default: the executable dir).
    explicit LanguageText(const QString& exeDir = QString());
    virtual ~LanguageText();

    // The key's text of section "VintrelText", at most 199 bytes, decoded
    // for display; empty when key, section or file is missing.
    QString Lookup(const char* key) const;
    QByteArray LookupBytes(const char* key) const;

    const QString& languageFilePath() const { return m_languageFilePath; }
    int languageSetting() const { return m_languageSetting; }

    // The process-wide object, set up by main() before any window exists.
    static const LanguageText& instance();
    static void setInstance(const LanguageText* text);

private:
    QString m_languageFilePath;
    QString m_executableDir;
    int m_languageSetting = 0;
};

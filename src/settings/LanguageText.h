#pragma once

#include <QByteArray>
#include <QString>

// The active language file, chosen once per process from "LANG" of
// config.ini and the user's default language: 0 English, 1 Chinese, any
// other value the file of the system language. Lookups read the file anew
// and take no lock, so they are safe from any thread.
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

    const QString& LanguageFilePath() const { return m_languageFilePath; }
    const QString& ExecutableDir() const { return m_executableDir; }
    int LanguageSetting() const { return m_languageSetting; }

    // The process-wide object, set up by main() before any window exists.
    // Until then (and after setInstance(nullptr)) an object whose lookups
    // are all empty answers.
    static const LanguageText& Instance();
    static void SetInstance(const LanguageText* text);

private:
    struct NoFile
    {
    };
    explicit LanguageText(NoFile);

    QString m_languageFilePath;
    QString m_executableDir;
    int m_languageSetting = 0;
};

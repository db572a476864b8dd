#include "settings/LanguageText.h"

#include "platform/IniFile.h"
#include "platform/StationPaths.h"
#include "platform/SystemLocale.h"
#include "platform/TextCodec.h"

#include <atomic>

namespace {

constexpr char kEnglishFile[] = "LAN_ENG.ini";
constexpr char kChineseFile[] = "LAN_CHN.ini";
constexpr int kTextCapacity = 200; // 199 bytes of text

std::atomic<const LanguageText*> g_instance{nullptr};

QString withSlash(QString dir)
{
    if (!dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    return dir;
}

} // namespace

LanguageText::LanguageText(const QString& exeDir)
    : m_executableDir(exeDir.isEmpty() ? StationPaths::executableDir() : withSlash(exeDir))
{
    m_languageSetting = IniFile(m_executableDir + QStringLiteral("config.ini")).readInt("DLOption", "LANG", 0);
    const char* name = SystemLocale::isChinese() ? kChineseFile : kEnglishFile;
    if (m_languageSetting == 0)
        name = kEnglishFile;
    else if (m_languageSetting == 1)
        name = kChineseFile;
    m_languageFilePath = m_executableDir + QStringLiteral("lang/") + QLatin1String(name);
}

LanguageText::LanguageText(NoFile)
{
}

LanguageText::~LanguageText() = default;

QString LanguageText::Lookup(const char* key) const
{
    return TextCodec::decode(LookupBytes(key));
}

QByteArray LanguageText::LookupBytes(const char* key) const
{
    if (!key || m_languageFilePath.isEmpty())
        return {};
    return IniFile(m_languageFilePath).readText("VintrelText", key, {}, kTextCapacity);
}

const LanguageText& LanguageText::Instance()
{
    static const LanguageText empty{NoFile{}};
    const LanguageText* text = g_instance.load();
    return text ? *text : empty;
}

void LanguageText::SetInstance(const LanguageText* text)
{
    g_instance.store(text);
}

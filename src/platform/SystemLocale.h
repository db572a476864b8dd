#pragma once

// The user's default language, from QLocale::system() unless overridden.
namespace SystemLocale {

// True when the language is Chinese, whatever script or territory.
bool isChinese();
// True for Chinese, Simplified script, China (identifier 0x0804).
bool isSimplifiedChinaChinese();

// Tests set the locale name ("zh_TW", "de_DE"); empty restores the system's.
void overrideLocale(const char* name);

} // namespace SystemLocale

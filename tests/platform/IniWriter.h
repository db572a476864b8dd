#pragma once

// The second writer of the INI write-lock tests: writes KEY.0 .. KEY.<count-1>
// of one section, each through its own IniText::writeText, and returns how
// many writes succeeded. The value of KEY.<i> is "<section>-<i>".
extern "C" int iniWriterRun(const char* path, const char* section, int count);

// The address of this binary's IniText::setValueIn, to tell two copies of
// the platform core apart.
extern "C" const void* iniWriterCore();

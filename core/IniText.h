#pragma once

#include <functional>
#include <string>
#include <string_view>

// INI access with the semantics station files rely on, in plain C++ so that
// the tool and the engine libraries read a file the same way. Section and key
// names match without regard to (ASCII) case, blanks around names and values
// are trimmed, a value in matching double or single quotes loses them, the
// first section and the first key of a name win. Lines without "=" inside a
// section are ignored by reads. A UTF-8 byte order mark at the start of the
// file is skipped. Every call opens the file anew (no cache), so a read sees
// every earlier write, also one made by another process. Values are bytes.
//
// A write keeps every other line of the file byte for byte and replaces the
// file atomically (AtomicWriter), creating file, section and key as needed: a
// new key goes after the last key line of its section, a new section at the
// end of the file; the added line ends in "\r\n" when the file uses it.
//
// Every write is a read-modify-write under the INI write lock (see update),
// so two writers of one file, in one process or in two, never lose each
// other's keys.
class IniText final
{
public:
    explicit IniText(std::string path);

    const std::string& path() const { return m_path; }

    // The value, or defaultValue when file, section or key is missing; cut to
    // capacity - 1 bytes (nothing for a capacity below 2).
    std::string readText(std::string_view section, std::string_view key,
                         std::string_view defaultValue = {}, int capacity = 4001) const;

    // The decimal integer at the start of the value (optional sign, digits);
    // 0 when the value does not start with a number; defaultValue when the
    // key or file is missing or the value is empty.
    int readInt(std::string_view section, std::string_view key, int defaultValue = 0) const;

    // Sets the key; false when the file could not be written. Names or a
    // value holding a line break (or a section name holding "]", a key
    // holding "=") are refused, since they would turn into other lines. A
    // value that reading would trim or unquote is written in double quotes,
    // so that it reads back exactly as given.
    bool writeText(std::string_view section, std::string_view key, std::string_view value) const;

    // Reads the file (an empty text when it does not exist), lets change edit
    // the text and, when change returns true, replaces the file with the
    // result (AtomicWriter). All of it holds the INI write lock: a mutex of
    // this copy of the code and an advisory lock (flock) on the folder that
    // holds the file. The folder, because the file itself is replaced by
    // rename; and flock, because it also excludes the other copies of this
    // code (each engine library links its own) and other processes. The lock
    // waits as long as another writer holds it: one read-modify-write.
    // false when the file could not be read or written; a change that
    // returns false leaves the file alone and is no failure. change must not
    // write an INI file itself (it would wait for its own lock).
    bool update(const std::function<bool(std::string& text)>& change) const;

    // True when the file exists and is no folder.
    bool exists() const;

    // The same reads on a text already in memory.
    static std::string valueIn(std::string_view data, std::string_view section, std::string_view key,
                               std::string_view defaultValue = {});

    // writeText's change on a text in memory; false (and data unchanged) for
    // the names and values that writeText refuses.
    static bool setValueIn(std::string& data, std::string_view section, std::string_view key,
                           std::string_view value);

    // The leading decimal integer of a text: leading blanks skipped, optional
    // sign, digits; no digits read as 0 (C's atoi, without its overflow
    // hazard: out-of-range numbers clamp to the int range).
    static int leadingInt(std::string_view text);

private:
    std::string m_path;
};

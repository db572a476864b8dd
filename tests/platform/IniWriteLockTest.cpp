// Two writers of one INI file never lose each other's keys: the read-modify-
// write of IniText holds a lock that covers threads, the second copy of the
// platform core that every engine library links, and other processes.
#include "IniWriter.h"

#include "core/IniText.h"

#include "support/TempDir.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>

#include <dlfcn.h>
#include <sys/stat.h>

namespace {

constexpr int kWrites = 1000;
// Lines that a rewrite must keep byte for byte.
constexpr char kBefore[] = "; station file\r\n[DLOption]\r\nLANG = ENG ; English\r\n\r\n"
                           "odd line without equals\r\n[GET_DLL_Setting]\r\nPORTS=1,2,0,0,0,0,0,0";

int writeKeys(const std::string& path, const std::string& section, int count)
{
    const IniText ini(path);
    int written = 0;
    for (int i = 0; i < count; ++i) {
        if (ini.writeText(section, "KEY." + std::to_string(i), section + "-" + std::to_string(i)))
            ++written;
    }
    return written;
}

class IniWriteLockTest : public ::testing::Test
{
protected:
    void SetUp() override { m_dir.write("config.ini", kBefore); }

    std::string path() const { return m_dir.file("config.ini").toStdString(); }

    // Every key of both writers is in the file, and what was there before
    // is untouched.
    void expectBothWriters() const
    {
        const QByteArray bytes = m_dir.read("config.ini");
        const std::string text(bytes.constData(), size_t(bytes.size()));
        EXPECT_TRUE(text.starts_with(kBefore));
        int missing = 0;
        for (const std::string section : {"A", "B"}) {
            for (int i = 0; i < kWrites; ++i) {
                const std::string want = section + "-" + std::to_string(i);
                if (IniText::valueIn(text, section, "KEY." + std::to_string(i)) != want)
                    ++missing;
            }
        }
        EXPECT_EQ(missing, 0);
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 7 + 2 + 2 * kWrites);
    }

    TempDir m_dir;
};

TEST_F(IniWriteLockTest, UpdateEditsTheFileAsItIsAndWritesOnlyAChange)
{
    const IniText ini(path());
    struct stat before {};
    ASSERT_EQ(::stat(path().c_str(), &before), 0);
    std::string seen;
    EXPECT_TRUE(ini.update([&](std::string& text) {
        seen = text;
        text += "ignored";
        return false;
    }));
    EXPECT_EQ(seen, kBefore);
    struct stat after {};
    ASSERT_EQ(::stat(path().c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino); // not replaced
    EXPECT_EQ(m_dir.read("config.ini"), kBefore);

    // A missing file is an empty text, and a change creates it.
    const IniText fresh(m_dir.file("new.ini").toStdString());
    EXPECT_TRUE(fresh.update([&](std::string& text) {
        seen = text;
        return IniText::setValueIn(text, "S", "K", " v ");
    }));
    EXPECT_EQ(seen, "");
    EXPECT_EQ(m_dir.read("new.ini"), "[S]\nK=\" v \"\n");

    // Refused names change nothing.
    std::string text = kBefore;
    EXPECT_FALSE(IniText::setValueIn(text, "S", "K", "two\nlines"));
    EXPECT_FALSE(IniText::setValueIn(text, "S]", "K", "v"));
    EXPECT_EQ(text, kBefore);

    // A file that cannot be written is a failure.
    const IniText nowhere(m_dir.file("missing/config.ini").toStdString());
    EXPECT_FALSE(nowhere.update([](std::string& text) { return IniText::setValueIn(text, "S", "K", "v"); }));
}

TEST_F(IniWriteLockTest, TwoThreadsLoseNoKey)
{
    int otherWritten = 0;
    std::thread other([&] { otherWritten = writeKeys(path(), "B", kWrites); });
    const int written = writeKeys(path(), "A", kWrites);
    other.join();
    EXPECT_EQ(written, kWrites);
    EXPECT_EQ(otherWritten, kWrites);
    expectBothWriters();
}

// The tool and an engine library each link their own copy of the core, so
// each has its own mutex: only the file lock stands between them.
TEST_F(IniWriteLockTest, TwoCopiesOfTheCoreInOneProcessLoseNoKey)
{
    void* module = ::dlopen(INI_WRITER_MODULE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << ::dlerror();
    const auto run = reinterpret_cast<decltype(&iniWriterRun)>(::dlsym(module, "iniWriterRun"));
    const auto core = reinterpret_cast<decltype(&iniWriterCore)>(::dlsym(module, "iniWriterCore"));
    ASSERT_TRUE(run && core);
    ASSERT_NE(core(), reinterpret_cast<const void*>(&IniText::setValueIn)) << "the module shares our copy";

    int otherWritten = 0;
    std::thread other([&] { otherWritten = run(path().c_str(), "B", kWrites); });
    const int written = writeKeys(path(), "A", kWrites);
    other.join();
    ::dlclose(module);
    EXPECT_EQ(written, kWrites);
    EXPECT_EQ(otherWritten, kWrites);
    expectBothWriters();
}

TEST_F(IniWriteLockTest, TwoProcessesLoseNoKey)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(INI_WRITER_CHILD, {QString::fromStdString(path()), "B", QString::number(kWrites)});
    ASSERT_TRUE(child.waitForStarted());
    const int written = writeKeys(path(), "A", kWrites);
    ASSERT_TRUE(child.waitForFinished(240000));
    EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(child.exitCode(), 0);
    EXPECT_EQ(written, kWrites);
    expectBothWriters();
}

} // namespace

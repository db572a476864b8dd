#include "platform/ProcessEnd.h"
#include "platform/Shell.h"
#include "platform/SingleInstance.h"
#include "platform/StationPaths.h"
#include "platform/SystemLocale.h"
#include "platform/ThreadPriority.h"

#include "support/TempDir.h"

#include <QFileInfo>

#include <gtest/gtest.h>

#include <thread>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr char kLabel[] = "Vintrel_RT40K_USV1.00.00";

class SingleInstanceTest : public ::testing::Test
{
protected:
    void SetUp() override { StationPaths::overrideRuntimeDir(m_dir.path()); }
    void TearDown() override { StationPaths::overrideRuntimeDir(QString()); }

    TempDir m_dir;
};

TEST_F(SingleInstanceTest, SecondHolderIsRefusedUntilRelease)
{
    SingleInstance first(kLabel);
    EXPECT_EQ(first.lockFilePath(), m_dir.file("Vintrel_RT40K_USV1.00.00.lock"));
    EXPECT_FALSE(first.alreadyRunning());
    EXPECT_TRUE(first.holdsLock());
    EXPECT_FALSE(first.alreadyRunning()); // asking again keeps the lock

    SingleInstance second(kLabel);
    EXPECT_TRUE(second.alreadyRunning());
    EXPECT_FALSE(second.holdsLock());

    first.release();
    SingleInstance third(kLabel);
    EXPECT_FALSE(third.alreadyRunning());
    EXPECT_TRUE(third.holdsLock());
}

TEST_F(SingleInstanceTest, LockEndsWithItsProcess)
{
    int toChild[2];
    int fromChild[2];
    ASSERT_EQ(::pipe(toChild), 0);
    ASSERT_EQ(::pipe(fromChild), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        SingleInstance child(kLabel);
        const char held = child.alreadyRunning() ? 'n' : 'y';
        (void)::write(fromChild[1], &held, 1);
        char go;
        (void)::read(toChild[0], &go, 1); // hold the lock until told to end
        ::_exit(0);
    }
    char held = 0;
    ASSERT_EQ(::read(fromChild[0], &held, 1), 1);
    EXPECT_EQ(held, 'y');
    {
        SingleInstance parent(kLabel);
        EXPECT_TRUE(parent.alreadyRunning());
    }
    ASSERT_EQ(::write(toChild[1], "x", 1), 1);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    SingleInstance parent(kLabel);
    EXPECT_FALSE(parent.alreadyRunning());
    for (int fd : {toChild[0], toChild[1], fromChild[0], fromChild[1]})
        ::close(fd);
}

TEST_F(SingleInstanceTest, UnusableFolderRunsWithoutLock)
{
    StationPaths::overrideRuntimeDir(m_dir.file("missing/"));
    SingleInstance instance(kLabel);
    EXPECT_FALSE(instance.alreadyRunning());
    EXPECT_FALSE(instance.holdsLock());
}

TEST(StationPaths, DirectoriesEndWithSlash)
{
    const QString exeDir = StationPaths::executableDir();
    EXPECT_TRUE(exeDir.endsWith('/'));
    EXPECT_TRUE(QFileInfo::exists(exeDir + "PlatformServicesTest"));
    EXPECT_EQ(StationPaths::applicationName(), QStringLiteral("PlatformServicesTest"));

    TempDir dir;
    StationPaths::overrideExecutableDir(dir.file("exe"));
    EXPECT_EQ(StationPaths::executableDir(), dir.file("exe/"));
    StationPaths::overrideExecutableDir(QString());
    EXPECT_EQ(StationPaths::executableDir(), exeDir);
}

TEST(StationPaths, DataDirFollowsXdgAndIsCreated)
{
    TempDir dir;
    const QByteArray saved = qgetenv("XDG_DATA_HOME");
    const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
    const bool hadData = qEnvironmentVariableIsSet("XDG_DATA_HOME");
    const bool hadRuntime = qEnvironmentVariableIsSet("XDG_RUNTIME_DIR");
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir.file("share")));
    qunsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(StationPaths::dataDir(), dir.file("share/vintrel-station/"));
    EXPECT_TRUE(QFileInfo(dir.file("share/vintrel-station")).isDir());
    EXPECT_EQ(StationPaths::runtimeDir(), StationPaths::dataDir());
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(dir.file("run")));
    EXPECT_EQ(StationPaths::runtimeDir(), dir.file("run/"));
    hadData ? qputenv("XDG_DATA_HOME", saved) : qunsetenv("XDG_DATA_HOME");
    hadRuntime ? qputenv("XDG_RUNTIME_DIR", savedRuntime) : qunsetenv("XDG_RUNTIME_DIR");
}

TEST(SystemLocale, ChineseAnyScriptOrTerritory)
{
    struct Case
    {
        const char* name;
        bool chinese;
        bool simplifiedChina;
    };
    for (const Case& c : {Case{"zh_CN", true, true}, Case{"zh_TW", true, false}, Case{"zh_HK", true, false},
                          Case{"zh_SG", true, false}, Case{"de_DE", false, false}, Case{"en_US", false, false}}) {
        SCOPED_TRACE(c.name);
        SystemLocale::overrideLocale(c.name);
        EXPECT_EQ(SystemLocale::isChinese(), c.chinese);
        EXPECT_EQ(SystemLocale::isSimplifiedChinaChinese(), c.simplifiedChina);
    }
    SystemLocale::overrideLocale("");
}

QStringList g_opened;
int g_endStatus = -1;

TEST(Shell, HookRecordsInsteadOfOpening)
{
    Shell::setHook([](const QString& path) { g_opened.append(path); });
    EXPECT_TRUE(Shell::openDocument("/station/help.doc"));
    EXPECT_TRUE(Shell::startProgram("/station/PortWarden"));
    Shell::setHook(nullptr);
    EXPECT_EQ(g_opened, (QStringList{"/station/help.doc", "/station/PortWarden"}));
}

TEST(ProcessEnd, HandlerReplacesExit)
{
    ProcessEnd::setHandler([](int status) { g_endStatus = status; });
    ProcessEnd::endProcess(3);
    ProcessEnd::setHandler(nullptr);
    EXPECT_EQ(g_endStatus, 3);
}

TEST(ProcessEnd, EndsAtOnceWithStatus)
{
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ProcessEnd::endProcess(7);
        ::_exit(99); // not reached
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 7);
}

} // namespace

namespace {
int niceOfThisThread()
{
    return ::getpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)));
}
} // namespace

TEST(ThreadPriority, LowersOnlyTheCallingThread)
{
    const int before = niceOfThisThread();
    if (before + 5 > 19)
        GTEST_SKIP() << "already at the lowest priority";
    int inside = 0;
    std::thread worker([&] {
        ThreadPriority::lowerCurrentThread(5);
        inside = niceOfThisThread();
    });
    worker.join();
    EXPECT_EQ(inside, before + 5);
    EXPECT_EQ(niceOfThisThread(), before);
}

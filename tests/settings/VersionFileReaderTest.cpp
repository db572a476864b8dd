#include "settings/VersionFileReader.h"

#include "support/TempDir.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <gtest/gtest.h>


#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

constexpr auto Deadline = 10s;

QByteArray image(const QByteArray& display, const QByteArray& internal)
{
    QByteArray bytes = "header\n";
    if (!display.isNull())
        bytes += "ro.build.display.id=" + display + "\n";
    if (!internal.isNull())
        bytes += "ro.build.sw_internal_version=" + internal + "\n";
    return bytes + "trailer";
}

// Short intervals, so the tests need not wait a second or ten.
VersionFileReader::Timing quick()
{
    VersionFileReader::Timing timing;
    timing.lookAgain = 10ms;
    timing.afterOpenFailure = 20ms;
    return timing;
}

QString dirOf(const TempDir& dir)
{
    return QDir::cleanPath(dir.path());
}

bool waitFor(const std::function<bool()>& condition)
{
    return QTest::qWaitFor(condition, int(std::chrono::milliseconds(Deadline).count()));
}

// The writing end of a pipe named system.img: the reader's read() blocks on
// it until the test writes, so a scan can be held open for as long as needed.
struct Fifo
{
    int fd = -1;
    explicit Fifo(const QString& path)
    {
        const QByteArray name = QFile::encodeName(path);
        if (::mkfifo(name.constData(), 0600) == 0)
            fd = ::open(name.constData(), O_RDWR | O_CLOEXEC); // never blocks, unlike O_WRONLY
    }
    ~Fifo() { if (fd >= 0) ::close(fd); }
    bool write(const QByteArray& bytes) const { return ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size(); }
    int unread() const
    {
        int n = -1;
        ::ioctl(fd, FIONREAD, &n);
        return n;
    }
};

} // namespace

TEST(VersionFileReader, ReadsTheConfiguredDirectoryAtStart)
{
    TempDir dir;
    dir.write("system.img", image("ABC_DE_V1.0\r", "ABC_INT_V1"));
    VersionFileReader reader(quick());
    reader.setDirectory(dirOf(dir));
    reader.start();
    EXPECT_EQ(reader.waitForInternalVersion(Deadline), "ABC_INT_V1");
    EXPECT_EQ(reader.displayVersion(), "ABC_DE_V1.0\r");
    EXPECT_EQ(reader.directory(), dirOf(dir));
    EXPECT_EQ(VersionFileReader::versionFilePath("/a/b"), "/a/b/system.img");
}

// The old reader kept the previous display version on a new choice, so a
// package without that line showed and recorded the previous package's.
TEST(VersionFileReader, NewChoiceEmptiesBothVersionsAndReadsTheNewFile)
{
    TempDir first, second, empty;
    first.write("system.img", image("FIRST_V1", "FIRST_INT_V1"));
    second.write("system.img", image({}, "SECOND_INT_V1"));
    VersionFileReader reader(quick());
    reader.setDirectory(dirOf(first));
    reader.start();
    ASSERT_EQ(reader.waitForInternalVersion(Deadline), "FIRST_INT_V1");

    reader.chooseDirectory(dirOf(empty));
    EXPECT_TRUE(reader.displayVersion().isEmpty());
    EXPECT_TRUE(reader.internalVersion().isEmpty());
    EXPECT_EQ(reader.directory(), dirOf(empty));

    reader.chooseDirectory(dirOf(second));
    EXPECT_EQ(reader.waitForInternalVersion(Deadline), "SECOND_INT_V1");
    EXPECT_TRUE(reader.displayVersion().isEmpty());
}

TEST(VersionFileReader, SameDirectoryChosenAgainIsReadAgain)
{
    TempDir dir;
    dir.write("system.img", image("OLD_V1", "OLD_INT_V1"));
    VersionFileReader reader(quick());
    reader.setDirectory(dirOf(dir));
    reader.start();
    ASSERT_EQ(reader.waitForInternalVersion(Deadline), "OLD_INT_V1");

    dir.write("system.img", image("NEW_V2", "NEW_INT_V2"));
    reader.chooseDirectory(dirOf(dir));
    EXPECT_EQ(reader.waitForInternalVersion(Deadline), "NEW_INT_V2");
    EXPECT_EQ(reader.displayVersion(), "NEW_V2");
}

// A scan held open in read() by a pipe: the choice must end it, or the new
// directory's versions never arrive.
TEST(VersionFileReader, NewChoiceStopsARunningScan)
{
    TempDir running, next;
    next.write("system.img", image("NEXT_V1", "NEXT_INT_V1"));
    VersionFileReader reader(quick());
    const Fifo fifo(running.file("system.img"));
    ASSERT_GE(fifo.fd, 0);
    ASSERT_TRUE(fifo.write("\nro.build.display.id=RUNNING_V1\n" + QByteArray(4096, 'x')));
    reader.setDirectory(dirOf(running));
    reader.start();
    ASSERT_TRUE(waitFor([&] { return fifo.unread() == 0; })); // the scan has taken it all

    reader.chooseDirectory(dirOf(next));
    ASSERT_TRUE(fifo.write("x")); // read() returns; only the stop request ends the scan
    EXPECT_EQ(reader.waitForInternalVersion(Deadline), "NEXT_INT_V1");
    EXPECT_EQ(reader.displayVersion(), "NEXT_V1");
}

TEST(VersionFileReader, MissingFileIsPickedUpOnceCreated)
{
    TempDir dir;
    VersionFileReader reader(quick());
    reader.setDirectory(dirOf(dir));
    reader.start();
    EXPECT_TRUE(reader.waitForInternalVersion(50ms).isEmpty());

    dir.write("system.img", image("LATE_V1", "LATE_INT_V1"));
    EXPECT_EQ(reader.waitForInternalVersion(Deadline), "LATE_INT_V1");
    EXPECT_EQ(reader.displayVersion(), "LATE_V1");
}

// A package still being copied: read to its end without the internal line,
// it is read again once it has grown.
TEST(VersionFileReader, FileWithoutInternalLineIsReadAgainWhenItChanges)
{
    TempDir dir;
    dir.write("system.img", image("PART_V1", {}));
    VersionFileReader reader(quick());
    reader.setDirectory(dirOf(dir));
    reader.start();
    ASSERT_TRUE(waitFor([&] { return reader.displayVersion() == "PART_V1"; }));
    EXPECT_TRUE(reader.internalVersion().isEmpty());

    dir.write("system.img", image("PART_V1", "PART_INT_V1"));
    EXPECT_EQ(reader.waitForInternalVersion(Deadline), "PART_INT_V1");
}

// root reads files whatever their mode; a folder named system.img exists
// but fails read() for everyone.
TEST(VersionFileReader, UnreadableFileCallsTheHandlerAndIsTriedAgain)
{
    TempDir dir;
    ASSERT_TRUE(QDir().mkpath(dir.file("system.img")));
    std::atomic_int failures{0};
    VersionFileReader reader(quick());
    reader.setOpenFailureHandler([&] { ++failures; });
    reader.setDirectory(dirOf(dir));
    reader.start();
    ASSERT_TRUE(waitFor([&] { return failures >= 2; })); // again after the pause

    ASSERT_TRUE(QDir().rmdir(dir.file("system.img")));
    dir.write("system.img", image("OK_V1", "OK_INT_V1"));
    EXPECT_EQ(reader.waitForInternalVersion(Deadline), "OK_INT_V1");
}

TEST(VersionFileReader, PauseAfterFailureEndsOnANewChoice)
{
    TempDir broken, good;
    ASSERT_TRUE(QDir().mkpath(broken.file("system.img")));
    good.write("system.img", image("GOOD_V1", "GOOD_INT_V1"));
    VersionFileReader::Timing timing = quick();
    timing.afterOpenFailure = 1h;
    std::atomic_int failures{0};
    VersionFileReader reader(timing);
    reader.setOpenFailureHandler([&] { ++failures; });
    reader.setDirectory(dirOf(broken));
    reader.start();
    ASSERT_TRUE(waitFor([&] { return failures == 1; }));

    reader.chooseDirectory(dirOf(good));
    EXPECT_EQ(reader.waitForInternalVersion(Deadline), "GOOD_INT_V1");
    EXPECT_EQ(failures, 1);
}

// The old reader spun without a pause for the life of the tool. Whether the
// idle reader sleeps is measured by bench_version_reader_idle (CPU seconds
// are no test assertion: a sanitizer or a busy machine skews them); here it
// must still answer at once after going idle on a found and a missing file.
TEST(VersionFileReader, IdleReaderAnswersAfterGoingIdle)
{
    TempDir known, missing;
    known.write("system.img", image("IDLE_V1", "IDLE_INT_V1"));
    VersionFileReader::Timing timing;
    timing.lookAgain = 50ms;
    VersionFileReader reader(timing);
    reader.setDirectory(dirOf(known));
    reader.start();
    ASSERT_EQ(reader.waitForInternalVersion(Deadline), "IDLE_INT_V1");

    for (const TempDir* dir : {&known, &missing}) {
        reader.chooseDirectory(dirOf(*dir));
        EXPECT_EQ(reader.waitForInternalVersion(500ms).isEmpty(), dir == &missing);
        EXPECT_EQ(reader.directory(), dirOf(*dir));
    }
}

TEST(VersionFileReader, StopEndsWaitersAndTheThread)
{
    TempDir dir;
    VersionFileReader reader(quick());
    reader.setDirectory(dirOf(dir));
    reader.start();
    std::thread waiter([&] { EXPECT_TRUE(reader.waitForInternalVersion(1h).isEmpty()); });
    reader.stop();
    waiter.join();
}

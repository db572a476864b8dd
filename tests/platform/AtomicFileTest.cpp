#include "platform/AtomicFile.h"
#include "core/FileOps.h"
#include "platform/IniFile.h"

#include "support/TempDir.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <cerrno>

#include <sys/stat.h>

namespace {

class AtomicFileTest : public ::testing::Test
{
protected:
    void TearDown() override { FileOps::clearFaults(); }

    QStringList entries() const
    {
        return QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System);
    }

    mode_t mode(const QString& name) const
    {
        struct stat st {};
        EXPECT_EQ(::stat(QFile::encodeName(m_dir.file(name)).constData(), &st), 0);
        return st.st_mode & 07777;
    }

    TempDir m_dir;
};

struct Fault
{
    FileOps::Op op;
    int err;
    const char* name;
};

const Fault kFaults[] = {
    {FileOps::Op::Write, ENOSPC, "write ENOSPC"}, {FileOps::Op::Write, EIO, "write EIO"},
    {FileOps::Op::Sync, EIO, "sync EIO"},         {FileOps::Op::Sync, ENOSPC, "sync ENOSPC"},
    {FileOps::Op::Rename, EIO, "rename EIO"},     {FileOps::Op::Rename, ENOSPC, "rename ENOSPC"},
};

// Whatever call fails, the file afterwards is the old or the new one, the
// result says which, and no temporary file is left.
TEST_F(AtomicFileTest, EveryFaultLeavesOldOrNewFile)
{
    const QByteArray oldContent = "old content\n";
    const QByteArray newContent = QByteArray(100000, 'n');
    for (const Fault& fault : kFaults) {
        for (int nth = 1; nth <= 4; ++nth) {
            SCOPED_TRACE(std::string(fault.name) + " #" + std::to_string(nth));
            m_dir.write("data.bin", oldContent);
            FileOps::failNth(fault.op, nth, fault.err);
            // Streamed in three pieces, so the second and third write count.
            AtomicFile file(m_dir.file("data.bin"));
            const bool ok = file.open() && file.append(newContent.constData(), 40000)
                && file.append(newContent.constData() + 40000, 40000)
                && file.append(newContent.constData() + 80000, 20000) && file.commit();
            const bool faultHit = !FileOps::faultPending(fault.op);
            FileOps::clearFaults();

            const QByteArray now = m_dir.read("data.bin");
            EXPECT_TRUE(now == oldContent || now == newContent);
            EXPECT_EQ(entries(), QStringList{"data.bin"});
            EXPECT_EQ(ok, !faultHit);
            if (!ok) {
                EXPECT_EQ(file.error(), fault.err);
                // Only the folder sync after the rename leaves the new file.
                if (now == newContent)
                    EXPECT_EQ(fault.op, FileOps::Op::Sync);
            } else {
                EXPECT_EQ(now, newContent);
            }
        }
    }
}

TEST_F(AtomicFileTest, ReplaceReportsErrorAndKeepsOldFile)
{
    m_dir.write("config.ini", "[S]\nk=old\n");
    for (const Fault& fault : kFaults) {
        SCOPED_TRACE(fault.name);
        FileOps::failNth(fault.op, 1, fault.err);
        int error = 0;
        EXPECT_FALSE(AtomicFile::replace(m_dir.file("config.ini"), "new", &error));
        EXPECT_EQ(error, fault.err);
        EXPECT_EQ(m_dir.read("config.ini"), "[S]\nk=old\n");
        EXPECT_EQ(entries(), QStringList{"config.ini"});
    }
}

TEST_F(AtomicFileTest, IniWriteOnFullDiskKeepsOldConfig)
{
    m_dir.write("config.ini", "[DLOption]\nRunFlag=0\n");
    const IniFile ini(m_dir.file("config.ini"));
    FileOps::failNth(FileOps::Op::Write, 1, ENOSPC);
    EXPECT_FALSE(ini.writeText("DLOption", "RunFlag", "1"));
    EXPECT_EQ(ini.readInt("DLOption", "RunFlag"), 0);
    EXPECT_EQ(entries(), QStringList{"config.ini"});
}

TEST_F(AtomicFileTest, DestructionWithoutCommitRemovesTemporary)
{
    m_dir.write("data.bin", "old");
    {
        AtomicFile file(m_dir.file("data.bin"));
        ASSERT_TRUE(file.open());
        ASSERT_TRUE(file.append("new", 3));
        EXPECT_EQ(entries().size(), 2);
    }
    EXPECT_EQ(entries(), QStringList{"data.bin"});
    EXPECT_EQ(m_dir.read("data.bin"), "old");
}

TEST_F(AtomicFileTest, KeepsModeOfReplacedFileAndFollowsLinks)
{
    m_dir.write("private.bin", "old");
    ASSERT_EQ(::chmod(QFile::encodeName(m_dir.file("private.bin")).constData(), 0600), 0);
    ASSERT_TRUE(AtomicFile::replace(m_dir.file("private.bin"), "new"));
    EXPECT_EQ(mode("private.bin"), 0600u);

    ASSERT_TRUE(QFile::link(m_dir.file("private.bin"), m_dir.file("link.bin")));
    ASSERT_TRUE(AtomicFile::replace(m_dir.file("link.bin"), "via link"));
    EXPECT_TRUE(QFileInfo(m_dir.file("link.bin")).isSymLink());
    EXPECT_EQ(m_dir.read("private.bin"), "via link");
}

TEST_F(AtomicFileTest, MissingFolderFails)
{
    int error = 0;
    EXPECT_FALSE(AtomicFile::replace(m_dir.file("no/such.bin"), "x", &error));
    EXPECT_EQ(error, ENOENT);
}

} // namespace

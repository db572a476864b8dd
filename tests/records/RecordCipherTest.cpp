#include "platform/ProcessEnd.h"
#include "platform/StationPaths.h"
#include "records/Rc4.h"
#include "records/RecordCipher.h"
#include "app/RecordPrompter.h"
#include "support/ScriptedPrompter.h"
#include "support/TempDir.h"
#include "support/TestRandom.h"
#include "RecordTestFiles.h"

#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace RecordTestFiles;

namespace {

QByteArray keystream(const QByteArray& key, qint64 offset, qint64 count)
{
    Rc4 rc4(key);
    rc4.skip(offset);
    QByteArray zeros(count, '\0');
    rc4.apply(zeros);
    return zeros;
}

// RFC 6229, keys of 40 and 128 bits, at offsets 0, 16, 240, 256 and 4096.
TEST(Rc4Test, MatchesRfc6229Vectors)
{
    const QByteArray key40 = QByteArray::fromHex("0102030405");
    EXPECT_EQ(keystream(key40, 0, 32).toHex(),
              "b2396305f03dc027ccc3524a0a1118a86982944f18fc82d589c403a47a0d0919");
    EXPECT_EQ(keystream(key40, 240, 32).toHex(),
              "28cb1132c96ce286421dcaadb8b69eae1cfcf62b03eddb641d77dfcf7f8d8c93");
    EXPECT_EQ(keystream(key40, 4096, 16).toHex(), "ff25b58995996707e51fbdf08b34d875");

    const QByteArray key128 = QByteArray::fromHex("0102030405060708090a0b0c0d0e0f10");
    EXPECT_EQ(keystream(key128, 0, 32).toHex(),
              "9ac7cc9a609d1ef7b2932899cde41b975248c4959014126a6e8a84f11d1a9e1c");
    EXPECT_EQ(keystream(key128, 240, 32).toHex(),
              "065902e4b620f6cc36c8589f66432f2bd39d566bc6bce3010768151549f3873f");
    EXPECT_EQ(keystream(key128, 4096, 16).toHex(), "a36a4c301ae8ac13610ccbc12256cacc");
}

TEST(Rc4Test, KeptStateContinuesTheKeystream)
{
    const QByteArray key = RecordCipher::KeyFor("7391");
    QByteArray whole(3000, 'a');
    Rc4(key).apply(whole);

    QByteArray first(1234, 'a');
    QByteArray rest(3000 - 1234, 'a');
    Rc4 rc4(key);
    rc4.apply(first);
    Rc4 kept = rc4;
    kept.apply(rest);
    EXPECT_EQ(first + rest, whole);
}

TEST(RecordCipherKeyTest, KeyIsMd5OfPassPhrase)
{
    EXPECT_EQ(RecordCipher::KeyFor("7391").toHex(), "88cf91a1aef212f3c2cd12406983427d");
}

int g_endStatus = -1;
struct ProcessEnded
{
};
void recordEnd(int status)
{
    g_endStatus = status;
    throw ProcessEnded{};
}

class RecordCipherTest : public ::testing::Test
{
protected:
    void TearDown() override { ProcessEnd::setHandler(nullptr); }

    // Encrypts and decrypts back; the encrypted file must be plain XOR the
    // keystream and as long as the plain file.
    void roundTrip(const QByteArray& plain)
    {
        m_dir.write(QStringLiteral("plain"), plain);
        RecordCipher cipher(m_prompts);
        ASSERT_TRUE(cipher.EncryptFile(m_dir.file("plain"), m_dir.file("enc"), "7391"));
        const QByteArray encrypted = m_dir.read(QStringLiteral("enc"));
        EXPECT_EQ(encrypted.size(), plain.size());
        EXPECT_EQ(encrypted, crypt(plain));
        ASSERT_TRUE(cipher.DecryptFile(m_dir.file("enc"), m_dir.file("back"), "7391"));
        EXPECT_EQ(m_dir.read(QStringLiteral("back")), plain);
        EXPECT_TRUE(m_dir.exists(QStringLiteral("plain")));
        EXPECT_TRUE(m_dir.exists(QStringLiteral("enc")));
    }

    TempDir m_dir;
    ScriptedPrompter m_prompter;
    RecordPrompter m_prompts{m_prompter};
};

TEST_F(RecordCipherTest, RoundTripsEmptyChunkSizedAndRandomFiles)
{
    roundTrip({});
    roundTrip(QByteArray(1000, 'x'));
    roundTrip(QByteArray(2000, 'y'));
    TestRandom generator;
    QByteArray random(70000 + generator.bounded(70000), Qt::Uninitialized);
    for (char& c : random)
        c = char(generator.bounded(256));
    roundTrip(random);
    EXPECT_TRUE(m_prompter.records().isEmpty());
}

TEST_F(RecordCipherTest, OpensslLegacyRc4DecryptsOurFiles)
{
    QProcess probe;
    probe.start(QStringLiteral("openssl"), {"list", "-providers", "-provider", "legacy"});
    if (!probe.waitForFinished(20000) || probe.exitStatus() != QProcess::NormalExit
        || probe.exitCode() != 0)
        GTEST_SKIP() << "openssl with its legacy provider is not available: "
                     << probe.readAllStandardError().toStdString();

    QByteArray plain;
    for (int n = 0; n < 300; ++n)
        plain += "356789012345678, ABC_, PASS, ABC_V1.0, 12/07/2026 09:35, Default, ABC_V1.1\r\n";
    m_dir.write(QStringLiteral("plain"), plain);
    RecordCipher cipher(m_prompts);
    ASSERT_TRUE(cipher.EncryptFile(m_dir.file("plain"), m_dir.file("enc"), "7391"));

    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {"enc", "-d", "-rc4", "-K", QString::fromLatin1(RecordCipher::KeyFor("7391").toHex()),
                   "-nosalt", "-provider", "legacy", "-provider", "default", "-in",
                   m_dir.file("enc"), "-out", m_dir.file("openssl-plain")});
    ASSERT_TRUE(openssl.waitForFinished(20000));
    ASSERT_EQ(openssl.exitCode(), 0) << openssl.readAllStandardError().toStdString();
    EXPECT_EQ(m_dir.read(QStringLiteral("openssl-plain")), plain);
}

TEST_F(RecordCipherTest, EmptyPathIsRefusedSilently)
{
    m_dir.write(QStringLiteral("enc"), "abc");
    RecordCipher cipher(m_prompts);
    EXPECT_FALSE(cipher.DecryptFile(QString(), m_dir.file("plain"), "7391"));
    EXPECT_FALSE(cipher.DecryptFile(m_dir.file("enc"), QString(), "7391"));
    EXPECT_FALSE(m_dir.exists(QStringLiteral("plain")));
    EXPECT_TRUE(m_prompter.records().isEmpty());
}

TEST_F(RecordCipherTest, ScratchStepsReportMissingSourceAndKeepTarget)
{
    m_dir.write(QStringLiteral("plain"), "old plain");
    RecordCipher cipher(m_prompts);
    EXPECT_FALSE(cipher.DecryptToScratch(m_dir.file("plain"), m_dir.file("missing"), "7391"));
    EXPECT_EQ(m_dir.read(QStringLiteral("plain")), "old plain");
    EXPECT_FALSE(cipher.EncryptFromScratch(m_dir.file("missing"), m_dir.file("plain"), "7391"));
    EXPECT_EQ(m_dir.read(QStringLiteral("plain")), "old plain");
    EXPECT_TRUE(m_prompter.records().isEmpty());
}

TEST_F(RecordCipherTest, DecryptedFileIsPrivate)
{
    writeEncrypted(m_dir.file("enc"), "secret\r\n");
    RecordCipher cipher(m_prompts);
    ASSERT_TRUE(cipher.DecryptToScratch(m_dir.file("plain"), m_dir.file("enc"), "7391"));
    struct stat st{};
    ASSERT_EQ(::stat(QFile::encodeName(m_dir.file("plain")).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // A plain file left readable by an older run is made private too.
    ASSERT_EQ(::chmod(QFile::encodeName(m_dir.file("plain")).constData(), 0644), 0);
    ASSERT_TRUE(cipher.DecryptToScratch(m_dir.file("plain"), m_dir.file("enc"), "7391"));
    ASSERT_EQ(::stat(QFile::encodeName(m_dir.file("plain")).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(m_dir.read(QStringLiteral("plain")), "secret\r\n");
}

TEST_F(RecordCipherTest, MissingPlainFileEndsProcessAfterFourBoxes)
{
    ProcessEnd::setHandler(recordEnd);
    g_endStatus = -1;
    for (int n = 0; n < 4; ++n)
        m_prompter.expectMessage();
    RecordCipher cipher(m_prompts);
    EXPECT_THROW(cipher.EncryptFile(m_dir.file("missing"), m_dir.file("enc"), "7391"), ProcessEnded);
    EXPECT_EQ(g_endStatus, 1);

    const QStringList texts = m_prompter.messageTexts();
    ASSERT_EQ(texts.size(), 4);
    EXPECT_EQ(texts[0], "An error occurred in running the program. \n");
    EXPECT_EQ(texts[1], "Error opening source plaintext file!");
    EXPECT_EQ(texts[2], QString::asprintf("Error number %x.\n", unsigned(ENOENT)));
    EXPECT_EQ(texts[3], "Program terminating");
    for (const ScriptedPrompter::Record& r : m_prompter.records()) {
        EXPECT_EQ(r.message.caption, StationPaths::applicationName());
        EXPECT_EQ(r.message.icon, Prompter::Icon::None);
        EXPECT_EQ(r.message.buttons, Prompter::Buttons::Ok);
    }
    EXPECT_FALSE(m_dir.exists(QStringLiteral("enc")));
}

} // namespace

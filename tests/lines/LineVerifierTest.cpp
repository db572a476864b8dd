#include "lines/LineVerifier.h"

#include "settings/VersionFileReader.h"
#include "support/TempDir.h"

#include <QDir>
#include <QStringList>
#include <QTest>

#include <gtest/gtest.h>

#include <future>
#include <mutex>
#include <optional>
#include <thread>

using namespace std::chrono_literals;

namespace {

constexpr auto Deadline = 10s;
// Long enough that a check which ends has ended for another reason.
constexpr auto Forever = std::chrono::milliseconds(24h);

const QString Check = "IDC_EXE_INFO_CHECKVERSION";
const QString ImeiError = "IDC_EXE_INFO_IMEIERROR";
const QString FileError = "IDC_EXE_INFO_FILEVERSIONERROR";
const QString Mismatch = "IDC_EXE_INFO_MATCHVERSIONERROR";
const QString Duplicate = "IDC_EXE_INFO_DUPLICATEIMEI";

DeviceInfo device(const QByteArray& display, const QByteArray& internal,
                  const QByteArray& imei = "356938035643809")
{
    return DeviceInfo{display, internal, imei};
}

QByteArray image(const QByteArray& display, const QByteArray& internal)
{
    return "\nro.build.display.id=" + display + "\nro.build.sw_internal_version=" + internal + "\n";
}

// A package directory, its reader, and the info texts a line was shown; the
// lookup returns the key itself so the texts name their keys.
class LineVerifierTest : public testing::Test
{
protected:
    LineVerifierTest() { m_reader.setDirectory(QDir::cleanPath(m_package.path())); }

    void usePackage(const QByteArray& display, const QByteArray& internal)
    {
        m_package.write("system.img", image(display, internal));
        m_reader.start();
        ASSERT_EQ(m_reader.waitForInternalVersion(Deadline), internal);
    }

    // Runs the check on a thread of its own, as a line worker does; gives
    // up at the deadline by stopping the reader, which ends any wait.
    std::optional<bool> verify(const DeviceInfo& info, std::chrono::milliseconds wait = Forever,
                               bool skip = false, const LineVerifier::DuplicateFinder& isDuplicate = {})
    {
        const LineVerifier verifier(m_reader, skip, [](const char* key) { return QString::fromLatin1(key); },
                                    wait);
        auto result = std::async(std::launch::async, [&] {
            return verifier.VerifyLine(info, [this](const QString& text) {
                const std::lock_guard lock(m_mutex);
                m_infos << text;
            }, isDuplicate);
        });
        if (result.wait_for(Deadline) != std::future_status::ready) {
            m_reader.stop();
            result.wait();
            return std::nullopt;
        }
        return result.get();
    }

    QStringList infos()
    {
        const std::lock_guard lock(m_mutex);
        return m_infos;
    }

    TempDir m_package;
    VersionFileReader m_reader{VersionFileReader::Timing{10ms, 20ms}};
    std::mutex m_mutex;
    QStringList m_infos;
};

} // namespace

TEST_F(LineVerifierTest, SkipFlagPassesWithoutImei)
{
    EXPECT_EQ(verify(device("", "", ""), Forever, true), true);
    EXPECT_EQ(infos(), QStringList({Check}));
}

TEST_F(LineVerifierTest, MissingImeiFailsBeforeAnyPackageIsRead)
{
    // No reader running and no package: only the order of the tests lets
    // these end.
    EXPECT_EQ(verify(device("ABC_DE_V1.0", "ABC_INT_V1", "000000000000000")), false);
    EXPECT_EQ(verify(device("ABC_DE_V1.0", "ABC_INT_V1", "")), false);
    EXPECT_EQ(infos(), QStringList({Check, ImeiError, Check, ImeiError}));
    EXPECT_EQ(verify(device("ABC_DE_V1.0", "ABC_INT_V1", "0000000000000000"), 10ms), false);
    EXPECT_EQ(infos().last(), FileError); // sixteen zeros is an IMEI
}

TEST_F(LineVerifierTest, DuplicateImeiIsRefusedBeforeAnyPackageIsRead)
{
    QByteArrayList asked;
    const auto onAnotherLine = [&](const QByteArray& imei) {
        asked << imei;
        return true;
    };
    EXPECT_EQ(verify(device("ABC_DE_V1.0", "ABC_INT_V1"), Forever, false, onAnotherLine), false);
    EXPECT_EQ(infos(), QStringList({Check, Duplicate}));
    EXPECT_EQ(asked, QByteArrayList{"356938035643809"});
    // An invalid IMEI is refused as such; the skip flag skips the comparison too.
    EXPECT_EQ(verify(device("ABC_DE_V1.0", "ABC_INT_V1", "000000000000000"), Forever, false, onAnotherLine), false);
    EXPECT_EQ(infos().last(), ImeiError);
    EXPECT_EQ(verify(device("ABC_DE_V1.0", "ABC_INT_V1"), Forever, true, onAnotherLine), true);
    EXPECT_EQ(asked.size(), 1);
}

TEST_F(LineVerifierTest, UnknownPackageFailsAtTheDeadline)
{
    m_reader.start();
    EXPECT_EQ(verify(device("ABC_DE_V1.0", "ABC_INT_V1"), 30ms), false);
    EXPECT_EQ(infos(), QStringList({Check, FileError}));
}

TEST_F(LineVerifierTest, PackageReadLaterLetsTheCheckGoOnAtOnce)
{
    m_reader.start();
    std::optional<bool> result;
    std::thread line([&] { result = verify(device("ABC_DE_V1.0", "ABC_INT_V1")); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return !infos().isEmpty(); }, 10000)); // the line is waiting
    m_package.write("system.img", image("ABC_DE_V2.3", "ABC_INT_V9"));
    line.join();
    EXPECT_EQ(result, true); // with a day's timeout, only the value can have ended the wait
    EXPECT_EQ(infos(), QStringList({Check}));
}

struct StemCase
{
    const char* deviceDisplay;
    const char* deviceInternal;
    const char* packageDisplay;
    const char* packageInternal;
    bool passes;
};

class LineVerifierStemTest : public LineVerifierTest, public testing::WithParamInterface<StemCase>
{
};

TEST_P(LineVerifierStemTest, ComparesStemsByteForByte)
{
    const StemCase& c = GetParam();
    usePackage(c.packageDisplay, c.packageInternal);
    EXPECT_EQ(verify(device(c.deviceDisplay, c.deviceInternal)), c.passes);
    EXPECT_EQ(infos(), c.passes ? QStringList({Check}) : QStringList({Check, Mismatch}));
}

INSTANTIATE_TEST_SUITE_P(Stems, LineVerifierStemTest, testing::Values(
    StemCase{"ABC_DE_V1.0", "ABC_INT_V1", "ABC_DE_V2.3", "ABC_INT_V7", true},
    StemCase{"ABC_DE_V1.0", "ABC_INT_V1", "ABC_DF_V1.0", "ABC_INT_V1", false},
    StemCase{"ABC_DE_V1.0", "ABC_INT_V1", "ABC_DE_V1.0", "ABD_INT_V1", false},
    StemCase{"ABC_DE_V1.0", "ABC_INT_V1", "abc_de_V1.0", "ABC_INT_V1", false},  // case counts
    StemCase{"ABC_DEv1_V2", "ABC_INT_V1", "ABC_DEv3_V2", "ABC_INT_V1", false},  // v ends nothing
    StemCase{"abc_de_v1.0", "ABC_INT_V1", "abc_de_v2.0", "ABC_INT_V1", true},   // both stems empty
    StemCase{"ABC123", "ABC_INT_V1", "ABC_DE_V1.0", "ABC_INT_V1", false},       // empty vs ABC_DE_
    StemCase{"ABC123", "ABC_INT_V1", "XYZ999", "ABC_INT_V1", true},
    StemCase{"ABC_DE_V1.0", "ABC_INT_V1 ", "ABC_DE_V1.0", " ABC_INT_V1", false} // no trimming
));

TEST_F(LineVerifierTest, PackageWithoutDisplayLineHasAnEmptyStem)
{
    m_package.write("system.img", "\nro.build.sw_internal_version=ABC_INT_V1\n");
    m_reader.start();
    EXPECT_EQ(verify(device("ABC_DE_V1.0", "ABC_INT_V2")), false);
    EXPECT_EQ(verify(device("NO_CAPITAL", "ABC_INT_V2")), true);
    EXPECT_EQ(infos(), QStringList({Check, Mismatch, Check}));
}

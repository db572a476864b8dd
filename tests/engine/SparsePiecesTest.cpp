// The pieces an image is sent in, reassembled by an independent reader
// (tests/engine/sparse_check.py), give the image back byte for byte.
#include "FlashJob.h"
#include "ImagePieces.h"
#include "SparseImage.h"

#include "support/TempDir.h"
#include "support/TestRandom.h"

#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include <cstring>

#include <fcntl.h>
#include <unistd.h>

using namespace fastboot;
namespace Sparse = engine::Sparse;

namespace {

// A sparse image of 300 blocks: raw, fill, skip, raw (cut by no piece
// boundary of its own) and a checksum chunk.
QByteArray sparseImage()
{
    const uint32_t bs = 4096;
    QByteArray out = QByteArray::fromStdString(Sparse::fileHeader(bs, 300, 5));
    const auto chunk = [&](uint16_t type, uint32_t blocks, const QByteArray& body) {
        out += QByteArray::fromStdString(Sparse::chunkHeader(type, blocks, uint32_t(Sparse::kChunkHeaderSize + body.size())));
        out += body;
    };
    chunk(Sparse::kRaw, 10, pseudoRandomBytes(10 * bs, 1));
    chunk(Sparse::kFill, 5, QByteArray("\xde\xad\xbe\xef", 4));
    chunk(Sparse::kDontCare, 85, {});
    chunk(Sparse::kRaw, 200, pseudoRandomBytes(200 * bs, 2));
    chunk(Sparse::kCrc32, 0, QByteArray(4, '\0'));
    return out;
}

class SparsePiecesTest : public ::testing::Test
{
protected:
    // Plans the pieces of the image for maxDownload, writes them out and
    // has the independent reader check them.
    void check(const QByteArray& image, uint64_t maxDownload, size_t expectedPieces = 0)
    {
        SCOPED_TRACE("image " + std::to_string(image.size()) + ", max " + std::to_string(maxDownload));
        dir.write(QStringLiteral("image.img"), image);
        const int fd = ::open(QFile::encodeName(dir.file(QStringLiteral("image.img"))).constData(), O_RDONLY);
        ASSERT_GE(fd, 0);
        const Sparse::ReadAt readAt = [fd](uint64_t offset, void* out, size_t size) {
            return ::pread(fd, out, size, off_t(offset)) == ssize_t(size);
        };
        std::vector<ImagePieces::Piece> pieces;
        std::string why;
        ASSERT_TRUE(ImagePieces::plan(readAt, uint64_t(image.size()), maxDownload, &pieces, &why)) << why;
        if (expectedPieces > 0) {
            EXPECT_EQ(pieces.size(), expectedPieces);
        }
        QStringList args{QStringLiteral(STATION_TEST_SOURCE "/sparse_check.py"), dir.file(QStringLiteral("image.img"))};
        for (size_t i = 0; i < pieces.size(); ++i) {
            EXPECT_LE(pieces[i].size, maxDownload);
            QByteArray bytes(qsizetype(pieces[i].size), '\0');
            PieceReader reader(pieces[i], readAt);
            ASSERT_TRUE(reader.read(bytes.data(), bytes.size(), &why)) << why;
            char extra;
            EXPECT_FALSE(reader.read(&extra, 1, &why)); // exactly its size
            const QString name = QStringLiteral("piece-%1").arg(i);
            dir.write(name, bytes);
            args << dir.file(name);
        }
        ::close(fd);
        QProcess python;
        python.start(QStringLiteral("python3"), args);
        ASSERT_TRUE(python.waitForFinished(60000));
        EXPECT_EQ(python.exitCode(), 0) << python.readAllStandardOutput().toStdString()
                                        << python.readAllStandardError().toStdString();
    }

    TempDir dir;
};

TEST_F(SparsePiecesTest, PlainImagesAtEveryLimit)
{
    const QByteArray image = pseudoRandomBytes(1024 * 1024, 7) + QByteArray(256 * 1024, '\0');
    check(image, uint64_t(image.size()) + 1, 1); // above: sent as it is
    check(image, uint64_t(image.size()), 1);     // equal: sent as it is
    check(image, uint64_t(image.size()) - 1);    // just below: sparse pieces
    check(image, 100 * 1024);                    // far below: many pieces
    check(pseudoRandomBytes(300 * 1024 + 123, 9), 64 * 1024); // a last partial block
}

TEST_F(SparsePiecesTest, SparseImagesAreSplitAtChunkBoundaries)
{
    const QByteArray image = sparseImage();
    check(image, uint64_t(image.size()) + 4096, 1);
    check(image, uint64_t(image.size()), 1);
    check(image, uint64_t(image.size()) - 1);
    check(image, 64 * 1024); // the long raw chunk is cut at block boundaries
    check(image, 4096 + 100);
}

TEST_F(SparsePiecesTest, TooSmallALimitIsRefused)
{
    std::vector<ImagePieces::Piece> pieces;
    std::string why;
    EXPECT_FALSE(ImagePieces::split(Sparse::rawLayout(1 << 20), 4096, &pieces, &why));
    EXPECT_NE(why.find("4096"), std::string::npos);
}

TEST(SparseLayoutTest, BrokenHeadersAreRefusedWithAReason)
{
    const QByteArray good = sparseImage();
    const auto layoutOf = [](const QByteArray& data, std::string* why) {
        Sparse::Layout layout;
        const Sparse::ReadAt readAt = [&](uint64_t offset, void* out, size_t size) {
            if (offset + size > uint64_t(data.size()))
                return false;
            std::memcpy(out, data.constData() + offset, size);
            return true;
        };
        return Sparse::readLayout(readAt, uint64_t(data.size()), &layout, why);
    };
    std::string why;
    ASSERT_TRUE(layoutOf(good, &why)) << why;
    QByteArray cut = good.left(good.size() - 1);
    EXPECT_FALSE(layoutOf(cut, &why));
    QByteArray version = good;
    version[4] = 2;
    EXPECT_FALSE(layoutOf(version, &why));
    QByteArray blocks = good;
    blocks[16] = char(blocks[16] + 1); // one block more than the chunks hold
    EXPECT_FALSE(layoutOf(blocks, &why));
    EXPECT_NE(why.find("fewer blocks"), std::string::npos);
    QByteArray type = good;
    type[28] = 0x00; // first chunk of no known type
    EXPECT_FALSE(layoutOf(type, &why));
    QByteArray blockSize = good;
    blockSize[12] = 3;
    EXPECT_FALSE(layoutOf(blockSize, &why));
}

} // namespace

// Progress of an image of several GiB: the share of its pieces sent, in
// image bytes, must not wrap around.
TEST(FlashProgressTest, ImageShareHoldsForImagesOfSeveralGiB)
{
    constexpr uint64_t GiB = 1ULL << 30;
    const uint64_t image = 6 * GiB;
    const uint64_t pieces = image + 24 * 1024; // headers of the pieces
    EXPECT_EQ(fastboot::FlashJob::imageShare(0, pieces, image), 0u);
    EXPECT_EQ(fastboot::FlashJob::imageShare(pieces, pieces, image), image);
    const uint64_t half = fastboot::FlashJob::imageShare(pieces / 2, pieces, image);
    EXPECT_LE(half, image / 2);
    EXPECT_GE(half, image / 2 - 1);
    EXPECT_EQ(fastboot::FlashJob::imageShare(3 * GiB, 0, image), 0u);
}

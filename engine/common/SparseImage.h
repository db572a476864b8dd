#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace engine {

// The Android sparse image format: a 28-byte file header, then chunks, each
// a 12-byte header and its data. All numbers little-endian.
namespace Sparse {

constexpr uint32_t kMagic = 0xed26ff3a;
constexpr uint32_t kHeaderSize = 28;
constexpr uint32_t kChunkHeaderSize = 12;
constexpr uint16_t kRaw = 0xcac1;
constexpr uint16_t kFill = 0xcac2;
constexpr uint16_t kDontCare = 0xcac3;
constexpr uint16_t kCrc32 = 0xcac4;

// One run of blocks of the expanded image.
struct Segment
{
    enum class Kind { Raw, Fill, Skip };
    Kind kind = Kind::Skip;
    uint32_t startBlock = 0;
    uint32_t blocks = 0;
    uint64_t fileOffset = 0; // Raw: where its bytes lie in the source file
    uint64_t fileBytes = 0;  // Raw: bytes taken from there; the rest of the blocks is zeros
    uint32_t fill = 0;       // Fill: the 32-bit pattern
};

struct Layout
{
    uint32_t blockSize = 0;
    uint32_t totalBlocks = 0;
    std::vector<Segment> segments; // in block order, CRC chunks left out
};

// Reads size bytes at offset; false when they cannot be read.
using ReadAt = std::function<bool(uint64_t offset, void* out, size_t size)>;

// True when the first bytes carry the sparse magic.
bool hasMagic(const void* first4);

// The chunk list of a sparse image of fileSize bytes, every header checked
// (version, sizes, chunk lengths, block counts); false with *why otherwise.
// Only headers are read, never chunk data.
bool readLayout(const ReadAt& read, uint64_t fileSize, Layout* layout, std::string* why);

// A plain image as one raw run; a last partial block is padded with zeros.
Layout rawLayout(uint64_t fileSize, uint32_t blockSize = 4096);

// Encoding of headers, for the pieces the engine sends.
std::string fileHeader(uint32_t blockSize, uint32_t totalBlocks, uint32_t totalChunks);
std::string chunkHeader(uint16_t type, uint32_t blocks, uint32_t totalSize);

} // namespace Sparse
} // namespace engine

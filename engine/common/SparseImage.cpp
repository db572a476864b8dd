#include "SparseImage.h"

#include <cstring>

namespace engine::Sparse {

namespace {

uint16_t le16(const unsigned char* p)
{
    return uint16_t(p[0] | p[1] << 8);
}

uint32_t le32(const unsigned char* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void put16(std::string& out, uint16_t v)
{
    out += char(v & 0xff);
    out += char(v >> 8);
}

void put32(std::string& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out += char((v >> (8 * i)) & 0xff);
}

bool failed(std::string* why, const std::string& text)
{
    *why = "not a valid sparse image: " + text;
    return false;
}

} // namespace

bool hasMagic(const void* first4)
{
    return le32(static_cast<const unsigned char*>(first4)) == kMagic;
}

bool readLayout(const ReadAt& read, uint64_t fileSize, Layout* layout, std::string* why)
{
    unsigned char h[kHeaderSize];
    if (fileSize < kHeaderSize || !read(0, h, kHeaderSize))
        return failed(why, "file shorter than its header");
    if (le32(h) != kMagic)
        return failed(why, "no sparse magic");
    const uint16_t major = le16(h + 4);
    const uint16_t headerSize = le16(h + 8);
    const uint16_t chunkHeaderSize = le16(h + 10);
    layout->blockSize = le32(h + 12);
    layout->totalBlocks = le32(h + 16);
    const uint32_t chunks = le32(h + 20);
    if (major != 1)
        return failed(why, "version " + std::to_string(major));
    if (headerSize < kHeaderSize || chunkHeaderSize < kChunkHeaderSize)
        return failed(why, "header sizes too small");
    if (layout->blockSize == 0 || layout->blockSize % 4 != 0)
        return failed(why, "block size " + std::to_string(layout->blockSize));

    layout->segments.clear();
    uint64_t offset = headerSize;
    uint64_t block = 0;
    for (uint32_t i = 0; i < chunks; ++i) {
        unsigned char c[kChunkHeaderSize];
        if (offset + chunkHeaderSize > fileSize || !read(offset, c, kChunkHeaderSize))
            return failed(why, "chunk " + std::to_string(i) + " cut off");
        const uint16_t type = le16(c);
        const uint32_t blocks = le32(c + 4);
        const uint32_t total = le32(c + 8);
        const uint64_t data = uint64_t(total) - chunkHeaderSize;
        if (total < chunkHeaderSize || offset + total > fileSize)
            return failed(why, "chunk " + std::to_string(i) + " runs past the end");
        Segment s;
        s.startBlock = uint32_t(block);
        s.blocks = blocks;
        switch (type) {
        case kRaw:
            if (data != uint64_t(blocks) * layout->blockSize)
                return failed(why, "raw chunk " + std::to_string(i) + " has the wrong length");
            s.kind = Segment::Kind::Raw;
            s.fileOffset = offset + chunkHeaderSize;
            s.fileBytes = data;
            break;
        case kFill: {
            unsigned char v[4];
            if (data != 4 || !read(offset + chunkHeaderSize, v, 4))
                return failed(why, "fill chunk " + std::to_string(i) + " has the wrong length");
            s.kind = Segment::Kind::Fill;
            s.fill = le32(v);
            break;
        }
        case kDontCare:
            if (data != 0)
                return failed(why, "skip chunk " + std::to_string(i) + " carries data");
            s.kind = Segment::Kind::Skip;
            break;
        case kCrc32:
            if (data != 4)
                return failed(why, "checksum chunk " + std::to_string(i) + " has the wrong length");
            offset += total;
            continue;
        default:
            return failed(why, "chunk " + std::to_string(i) + " of unknown type");
        }
        block += blocks;
        if (block > layout->totalBlocks)
            return failed(why, "chunks hold more blocks than the image");
        if (blocks > 0)
            layout->segments.push_back(s);
        offset += total;
    }
    if (block != layout->totalBlocks)
        return failed(why, "chunks hold fewer blocks than the image");
    return true;
}

Layout rawLayout(uint64_t fileSize, uint32_t blockSize)
{
    Layout layout;
    layout.blockSize = blockSize;
    layout.totalBlocks = uint32_t((fileSize + blockSize - 1) / blockSize);
    if (layout.totalBlocks > 0) {
        Segment s;
        s.kind = Segment::Kind::Raw;
        s.blocks = layout.totalBlocks;
        s.fileBytes = fileSize;
        layout.segments.push_back(s);
    }
    return layout;
}

std::string fileHeader(uint32_t blockSize, uint32_t totalBlocks, uint32_t totalChunks)
{
    std::string out;
    put32(out, kMagic);
    put16(out, 1); // major version
    put16(out, 0); // minor version
    put16(out, uint16_t(kHeaderSize));
    put16(out, uint16_t(kChunkHeaderSize));
    put32(out, blockSize);
    put32(out, totalBlocks);
    put32(out, totalChunks);
    put32(out, 0); // no image checksum
    return out;
}

std::string chunkHeader(uint16_t type, uint32_t blocks, uint32_t totalSize)
{
    std::string out;
    put16(out, type);
    put16(out, 0);
    put32(out, blocks);
    put32(out, totalSize);
    return out;
}

} // namespace engine::Sparse

#include "ImagePieces.h"

#include <algorithm>
#include <cstring>

namespace fastboot {

namespace {

using Segment = engine::Sparse::Segment;

uint64_t encodedSize(const Segment& s, uint32_t blockSize)
{
    switch (s.kind) {
    case Segment::Kind::Raw:
        return engine::Sparse::kChunkHeaderSize + uint64_t(s.blocks) * blockSize;
    case Segment::Kind::Fill:
        return engine::Sparse::kChunkHeaderSize + 4;
    case Segment::Kind::Skip:
        break;
    }
    return engine::Sparse::kChunkHeaderSize;
}

ImagePieces::Part bytesPart(std::string bytes)
{
    ImagePieces::Part p;
    p.kind = ImagePieces::Part::Kind::Bytes;
    p.length = bytes.size();
    p.bytes = std::move(bytes);
    return p;
}

// Turns the segments of one piece into its parts: header, a skip over the
// blocks before, the segments, a skip over the blocks after.
ImagePieces::Piece encode(const engine::Sparse::Layout& layout, const std::vector<Segment>& segments)
{
    const uint32_t first = segments.front().startBlock;
    const uint32_t end = segments.back().startBlock + segments.back().blocks;
    const uint32_t chunks = uint32_t(segments.size()) + (first > 0) + (end < layout.totalBlocks);
    ImagePieces::Piece piece;
    piece.parts.push_back(bytesPart(engine::Sparse::fileHeader(layout.blockSize, layout.totalBlocks, chunks)));
    if (first > 0)
        piece.parts.push_back(bytesPart(engine::Sparse::chunkHeader(engine::Sparse::kDontCare, first, engine::Sparse::kChunkHeaderSize)));
    for (const Segment& s : segments) {
        const uint32_t total = uint32_t(encodedSize(s, layout.blockSize));
        switch (s.kind) {
        case Segment::Kind::Raw: {
            piece.parts.push_back(bytesPart(engine::Sparse::chunkHeader(engine::Sparse::kRaw, s.blocks, total)));
            ImagePieces::Part data;
            data.kind = ImagePieces::Part::Kind::File;
            data.offset = s.fileOffset;
            data.length = s.fileBytes;
            if (data.length > 0)
                piece.parts.push_back(data);
            const uint64_t pad = uint64_t(s.blocks) * layout.blockSize - s.fileBytes;
            if (pad > 0) {
                ImagePieces::Part zeros;
                zeros.kind = ImagePieces::Part::Kind::Zeros;
                zeros.length = pad;
                piece.parts.push_back(zeros);
            }
            break;
        }
        case Segment::Kind::Fill: {
            std::string chunk = engine::Sparse::chunkHeader(engine::Sparse::kFill, s.blocks, total);
            for (int i = 0; i < 4; ++i)
                chunk += char((s.fill >> (8 * i)) & 0xff);
            piece.parts.push_back(bytesPart(std::move(chunk)));
            break;
        }
        case Segment::Kind::Skip:
            piece.parts.push_back(bytesPart(engine::Sparse::chunkHeader(engine::Sparse::kDontCare, s.blocks, total)));
            break;
        }
    }
    if (end < layout.totalBlocks)
        piece.parts.push_back(
            bytesPart(engine::Sparse::chunkHeader(engine::Sparse::kDontCare, layout.totalBlocks - end, engine::Sparse::kChunkHeaderSize)));
    for (const ImagePieces::Part& p : piece.parts)
        piece.size += p.length;
    return piece;
}

} // namespace

bool ImagePieces::plan(const engine::Sparse::ReadAt& read, uint64_t fileSize, uint64_t maxDownload,
                       std::vector<Piece>* pieces, std::string* why)
{
    pieces->clear();
    unsigned char magic[4] = {};
    const bool sparse = fileSize >= 4 && read(0, magic, 4) && engine::Sparse::hasMagic(magic);
    engine::Sparse::Layout layout;
    if (sparse && !engine::Sparse::readLayout(read, fileSize, &layout, why))
        return false;
    if (fileSize <= maxDownload) {
        Piece whole;
        whole.size = fileSize;
        Part data;
        data.kind = Part::Kind::File;
        data.length = fileSize;
        whole.parts.push_back(data);
        pieces->push_back(whole);
        return true;
    }
    return split(sparse ? layout : engine::Sparse::rawLayout(fileSize), maxDownload, pieces, why);
}

bool ImagePieces::split(const engine::Sparse::Layout& layout, uint64_t maxDownload, std::vector<Piece>* pieces,
                        std::string* why)
{
    pieces->clear();
    const uint64_t bs = layout.blockSize;
    // Header, a leading and a trailing skip, and one raw block must fit.
    const uint64_t overhead = engine::Sparse::kHeaderSize + 2 * engine::Sparse::kChunkHeaderSize;
    if (maxDownload < overhead + engine::Sparse::kChunkHeaderSize + bs) {
        *why = "the device takes downloads of only " + std::to_string(maxDownload) + " bytes";
        return false;
    }
    std::vector<Segment> current;
    uint64_t room = maxDownload - overhead;
    const auto close = [&] {
        if (!current.empty())
            pieces->push_back(encode(layout, current));
        current.clear();
        room = maxDownload - overhead;
    };
    for (Segment s : layout.segments) {
        while (s.blocks > 0) {
            const uint64_t need = encodedSize(s, layout.blockSize);
            if (need <= room) {
                current.push_back(s);
                room -= need;
                break;
            }
            const uint64_t fits = room > engine::Sparse::kChunkHeaderSize ? (room - engine::Sparse::kChunkHeaderSize) / bs : 0;
            if (s.kind != Segment::Kind::Raw || fits == 0) {
                close();
                continue;
            }
            // Cut the raw run: the first part fills this piece.
            Segment head = s;
            head.blocks = uint32_t(fits);
            head.fileBytes = std::min<uint64_t>(s.fileBytes, fits * bs);
            current.push_back(head);
            s.startBlock += head.blocks;
            s.blocks -= head.blocks;
            s.fileOffset += head.fileBytes;
            s.fileBytes -= head.fileBytes;
            close();
        }
    }
    close();
    if (pieces->empty()) // an image of nothing but skipped blocks
        pieces->push_back(encode(layout, {Segment{Segment::Kind::Skip, 0, layout.totalBlocks, 0, 0, 0}}));
    return true;
}

PieceReader::PieceReader(const ImagePieces::Piece& piece, engine::Sparse::ReadAt read)
    : m_piece(piece), m_read(std::move(read))
{
}

// Walks the parts as chunks() does, so that what is checked through read()
// is what the transports send.
bool PieceReader::read(char* out, size_t size, std::string* why)
{
    std::vector<Chunk> list;
    if (!chunks(size, -1, &list, why))
        return false;
    for (const Chunk& c : list) {
        if (c.data) {
            std::memcpy(out, c.data, c.size);
        } else if (!m_read(c.offset, out, c.size)) {
            *why = "cannot read the image";
            return false;
        }
        out += c.size;
    }
    return true;
}

bool PieceReader::chunks(size_t size, int file, std::vector<Chunk>* out, std::string* why)
{
    static const char zeros[64 * 1024] = {};
    while (size > 0) {
        if (m_part >= m_piece.parts.size()) {
            *why = "read past the end of a piece";
            return false;
        }
        const ImagePieces::Part& part = m_piece.parts[m_part];
        size_t n = size_t(std::min<uint64_t>(size, part.length - m_offset));
        switch (part.kind) {
        case ImagePieces::Part::Kind::Bytes:
            out->push_back(Chunk{part.bytes.data() + m_offset, -1, 0, n});
            break;
        case ImagePieces::Part::Kind::Zeros:
            n = std::min(n, sizeof zeros);
            out->push_back(Chunk{zeros, -1, 0, n});
            break;
        case ImagePieces::Part::Kind::File:
            out->push_back(Chunk{nullptr, file, part.offset + m_offset, n}); // data null: from the file
            break;
        }
        size -= n;
        m_offset += n;
        if (m_offset == part.length) {
            ++m_part;
            m_offset = 0;
        }
    }
    return true;
}

} // namespace fastboot

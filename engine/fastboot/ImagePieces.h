#pragma once

#include "SparseImage.h"
#include "Transport.h"

#include <cstdint>
#include <string>
#include <vector>

namespace fastboot {

// How one image file goes to a device that takes at most maxDownload bytes
// per download: as it is when it fits, otherwise as sparse pieces, each a
// sparse image of the whole partition that carries one stretch of it and
// skips the rest. A plain image is cut at block boundaries; a sparse image
// at its chunk boundaries (a raw chunk larger than a piece is cut at block
// boundaries too). A piece is a list of parts, so that it can be streamed
// from the file without holding it in memory.
class ImagePieces final
{
public:
    struct Part
    {
        enum class Kind { Bytes, File, Zeros };
        Kind kind = Kind::Bytes;
        std::string bytes;   // Bytes: headers made here
        uint64_t offset = 0; // File: where in the image file
        uint64_t length = 0; // File, Zeros
    };

    struct Piece
    {
        uint64_t size = 0;
        std::vector<Part> parts;
    };

    // Plans the pieces of an image of fileSize bytes read through read.
    static bool plan(const engine::Sparse::ReadAt& read, uint64_t fileSize, uint64_t maxDownload,
                     std::vector<Piece>* pieces, std::string* why);

    // Splits a layout into sparse pieces of at most maxDownload bytes.
    static bool split(const engine::Sparse::Layout& layout, uint64_t maxDownload, std::vector<Piece>* pieces,
                      std::string* why);
};

// Streams one piece: its parts in order, file parts read through read.
class PieceReader final
{
public:
    PieceReader(const ImagePieces::Piece& piece, engine::Sparse::ReadAt read);

    // Fills exactly size bytes; false at the end of the piece or when the
    // file cannot be read.
    bool read(char* out, size_t size, std::string* why);
    // Describes the next size bytes instead of copying them: headers and
    // fills as memory of the piece, zeros from a shared block, file parts as
    // stretches of file. The chunks stay valid while the piece lives.
    bool chunks(size_t size, int file, std::vector<Chunk>* out, std::string* why);

private:
    const ImagePieces::Piece& m_piece;
    engine::Sparse::ReadAt m_read;
    size_t m_part = 0;
    uint64_t m_offset = 0; // within the current part
};

} // namespace fastboot

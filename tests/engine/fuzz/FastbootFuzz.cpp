// Fuzz target for what the engine reads from outside: device replies and
// sparse image headers, and the pieces planned from a layout. Built with
// libFuzzer under clang; under g++ a replay of the corpus runs as a test.
#include "FastbootReply.h"
#include "ImagePieces.h"
#include "SparseImage.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace fastboot;
    namespace Sparse = engine::Sparse;
    const char* bytes = reinterpret_cast<const char*>(data);
    const FastbootReply reply = FastbootReply::parse(bytes, size);
    if (reply.kind == FastbootReply::Kind::Data && reply.text.size() != 8)
        __builtin_trap();

    const Sparse::ReadAt readAt = [&](uint64_t offset, void* out, size_t n) {
        if (offset > size || n > size - offset)
            return false;
        std::memcpy(out, data + offset, n);
        return true;
    };
    std::vector<ImagePieces::Piece> pieces;
    std::string why;
    const uint64_t limit = 64 * 1024;
    if (!ImagePieces::plan(readAt, size, limit, &pieces, &why))
        return 0;
    // Every piece streams to exactly its size and stays within the limit.
    std::vector<char> buffer(limit);
    for (const ImagePieces::Piece& piece : pieces) {
        if (piece.size > limit)
            __builtin_trap();
        if (piece.size > buffer.size())
            continue;
        PieceReader reader(piece, readAt);
        if (!reader.read(buffer.data(), size_t(piece.size), &why))
            __builtin_trap();
    }
    return 0;
}

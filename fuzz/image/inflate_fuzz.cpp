// Inflate on arbitrary bytes: the first byte picks the output size and whether history precedes the start. Every
// path (see InflatePath), and the same bytes cut into pieces, must give the same result, the same output and the
// same reason.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "image/inflate.h"

namespace {

// Pieces of the stream, each in an exact-size heap block so that ASan sees any read past one.
struct Pieces {
    std::vector<uint8_t*> blocks;
    std::vector<size_t> lengths;
    size_t taken = 0;
};

const uint8_t* NextPiece(void* context, size_t* length) {
    Pieces* pieces = static_cast<Pieces*>(context);
    if (pieces->taken == pieces->blocks.size())
        return nullptr;
    *length = pieces->lengths[pieces->taken];
    return pieces->blocks[pieces->taken++];
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    // Sizes from tiny (limit cuts) to larger than most seeds produce.
    static const uint32_t Limits[8] = {0, 1, 7, 258, 4096, 65536, 300000, 1 << 21};
    uint32_t limit = Limits[data[0] & 7];
    uint32_t start = data[0] & 8 ? (limit < 100 ? limit / 2 : 100) : 0;
    // Piece lengths, empty ones included, from a generator seeded by the first byte.
    Pieces pieces;
    uint32_t seed = data[0] * 2654435761u + uint32_t(size);
    for (size_t at = 1; at < size;) {
        static const size_t Lengths[8] = {0, 1, 2, 3, 8, 15, 100, 5000};
        seed ^= seed << 13, seed ^= seed >> 17, seed ^= seed << 5;
        const size_t length = std::min(Lengths[seed & 7], size - at);
        pieces.blocks.push_back(static_cast<uint8_t*>(std::malloc(length ? length : 1)));
        std::memcpy(pieces.blocks.back(), data + at, length);
        pieces.lengths.push_back(length);
        at += length;
    }
    std::vector<uint8_t> first;
    int64_t firstEnd = 0;
    const char* firstError = "";
    for (int run = 0; run < 4; ++run) {
        // Guard bytes: a decoded stream leaves every byte from its end position on as it was.
        std::vector<uint8_t> output(limit, 0xA5);
        static const int Paths[4] = {1, 0, 2, 1};
        InflatePath = Paths[run];
        OutputLimit = limit;
        int64_t end;
        if (run < 3) {
            // The whole stream as one exact-size heap copy.
            uint8_t* stream = static_cast<uint8_t*>(std::malloc(size - 1 ? size - 1 : 1));
            std::memcpy(stream, data + 1, size - 1);
            end = Inflate(stream, size - 1, output.data(), start);
            std::free(stream);
        } else {
            pieces.taken = 1;
            const InflateSource more{NextPiece, &pieces};
            end = pieces.blocks.empty() ? Inflate(nullptr, 0, output.data(), start)
                                        : Inflate(pieces.blocks[0], pieces.lengths[0], more, output.data(), start);
        }
        if (end != -1 && (end < start || end > (start > limit ? start : limit)))
            std::abort();
        for (int64_t i = end; end != -1 && i < int64_t(limit); ++i)
            if (output[size_t(i)] != 0xA5)
                std::abort();
        if (run == 0) {
            first = output;
            firstEnd = end;
            firstError = InflateError();
        } else if (end != firstEnd || output != first || std::strcmp(InflateError(), firstError) != 0) {
            std::abort();
        }
    }
    InflatePath = 1;
    for (uint8_t* block : pieces.blocks)
        std::free(block);
    return 0;
}

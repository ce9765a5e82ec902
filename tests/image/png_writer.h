// PNG files for the tests: by hand (any chunk, any CRC, any filter byte) and through libpng's writer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

struct PngBuilder {
    Bytes bytes{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

    // A chunk with its CRC from zlib's crc32 (inverted when badCrc).
    void Chunk(const char* type, const Bytes& data, bool badCrc = false);
    void Header(uint32_t width, uint32_t height, uint8_t depth, uint8_t colourType, uint8_t interlace = 0,
                bool badCrc = false);
    void End() { Chunk("IEND", {}); }
};

// Rows of samples, each preceded by its filter byte, compressed by zlib.
Bytes CompressRows(const std::vector<Bytes>& rows, const std::vector<uint8_t>& filters);

// Writes a PNG through libpng. samples: rows of bytes as the colour type stores them; filters: a PNG_FILTER_*
// mask; idatBytes: the compression buffer size (small values split the data over many IDAT chunks).
bool WriteWithLibpng(const std::string& path, uint32_t width, uint32_t height, int colourType, const Bytes& samples,
                     const Bytes& palette, int filters, size_t idatBytes, bool addTrns);

// Raw samples and palette as libpng reads them with no transformation.
struct LibpngImage {
    uint32_t width = 0, height = 0;
    int colourType = 0, bitDepth = 0, interlace = 0;
    Bytes samples; // rows without padding
    Bytes palette; // R, G, B per entry
};
bool ReadWithLibpng(const std::string& path, LibpngImage* image);

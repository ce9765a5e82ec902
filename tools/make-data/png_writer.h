// PNG files at an exact byte size: the image data is compressed with our own DEFLATE and the remainder is filled
// with one ancillary text chunk, which every reader skips. The chunk helpers also let tests build files by hand.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace makedata {

struct PngPicture {
    int width = 0;
    int height = 0;
    int colourType = 2;           // 0 grey, 2 RGB, 3 palette, 6 RGBA (8 bits per sample)
    std::vector<uint8_t> samples; // rows top to bottom, 1, 3, 1 or 4 bytes per pixel
    std::vector<uint8_t> palette; // colour type 3: R, G, B per entry
};

// Smallest padding chunk: length, type, the keyword "Comment" and its terminator, CRC.
constexpr size_t kMinPngPadding = 12 + 8;

extern const uint8_t kPngSignature[8];

// Appends a chunk: length, type, data, CRC.
void PutPngChunk(std::vector<uint8_t>& out, const char* type, const uint8_t* data, size_t size);
inline void PutPngChunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
    PutPngChunk(out, type, data.data(), data.size());
}
// The 13 bytes of an IHDR chunk's data.
std::vector<uint8_t> PngHeader(uint32_t width, uint32_t height, int depth, int colourType, int interlace = 0);

// The file without padding; idatSplit > 0 cuts the compressed stream into IDAT chunks of that many bytes.
std::vector<uint8_t> EncodePng(const PngPicture& picture, size_t idatSplit = 0);

// Adds a tEXt chunk before IEND so that the file is exactly targetSize bytes; nothing when it cannot.
std::optional<std::vector<uint8_t>> PadPng(const std::vector<uint8_t>& png, size_t targetSize);

} // namespace makedata

#include "png_writer.h"

#include "deflate.h"
#include "image/png.h"

#include <cstdlib>
#include <cstring>

namespace makedata {
namespace {

void PutBe32(std::vector<uint8_t>& out, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8)
        out.push_back(uint8_t(v >> s));
}

// Filters every row, choosing per row the filter whose output has the smallest sum of absolute (signed) bytes;
// palette rows stay unfiltered since their indices are not magnitudes.
std::vector<uint8_t> FilterRows(const PngPicture& p) {
    const int bpp = p.colourType == 6 ? 4 : p.colourType == 2 ? 3 : 1;
    const size_t stride = size_t(p.width) * bpp;
    std::vector<uint8_t> out;
    out.reserve((stride + 1) * p.height);
    std::vector<uint8_t> zero(stride, 0), candidate(stride);
    for (int y = 0; y < p.height; ++y) {
        const uint8_t* row = p.samples.data() + stride * y;
        const uint8_t* up = y > 0 ? row - stride : zero.data();
        int bestFilter = 0;
        std::vector<uint8_t> best(row, row + stride);
        if (p.colourType != 3) {
            long bestScore = -1;
            for (int f = 0; f < 5; ++f) {
                long score = 0;
                for (size_t i = 0; i < stride; ++i) {
                    int a = i >= size_t(bpp) ? row[i - bpp] : 0;
                    int b = up[i];
                    int c = i >= size_t(bpp) ? up[i - bpp] : 0;
                    int pred = f == 0 ? 0 : f == 1 ? a : f == 2 ? b : f == 3 ? (a + b) / 2 : PaethPredictor(a, b, c);
                    uint8_t v = uint8_t(row[i] - pred);
                    candidate[i] = v;
                    score += v < 128 ? v : 256 - v;
                }
                if (bestScore < 0 || score < bestScore) {
                    bestScore = score;
                    bestFilter = f;
                    best = candidate;
                }
            }
        }
        out.push_back(uint8_t(bestFilter));
        out.insert(out.end(), best.begin(), best.end());
    }
    return out;
}

} // namespace

const uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

void PutPngChunk(std::vector<uint8_t>& out, const char* type, const uint8_t* data, size_t size) {
    PutBe32(out, uint32_t(size));
    size_t typeAt = out.size();
    out.insert(out.end(), type, type + 4);
    if (size)
        out.insert(out.end(), data, data + size);
    PutBe32(out, Crc32(std::span<const uint8_t>(out.data() + typeAt, size + 4)));
}

std::vector<uint8_t> PngHeader(uint32_t width, uint32_t height, int depth, int colourType, int interlace) {
    std::vector<uint8_t> ihdr;
    PutBe32(ihdr, width);
    PutBe32(ihdr, height);
    ihdr.insert(ihdr.end(), {uint8_t(depth), uint8_t(colourType), 0, 0, uint8_t(interlace)});
    return ihdr;
}

std::vector<uint8_t> EncodePng(const PngPicture& p, size_t idatSplit) {
    std::vector<uint8_t> out(kPngSignature, kPngSignature + 8);
    PutPngChunk(out, "IHDR", PngHeader(p.width, p.height, 8, p.colourType));
    if (p.colourType == 3)
        PutPngChunk(out, "PLTE", p.palette.data(), p.palette.size());
    std::vector<uint8_t> filtered = FilterRows(p);
    std::vector<uint8_t> z = ZlibCompress(filtered);
    size_t step = idatSplit ? idatSplit : z.size();
    for (size_t at = 0; at < z.size(); at += step)
        PutPngChunk(out, "IDAT", z.data() + at, std::min(step, z.size() - at));
    PutPngChunk(out, "IEND", nullptr, 0);
    return out;
}

std::optional<std::vector<uint8_t>> PadPng(const std::vector<uint8_t>& png, size_t targetSize) {
    if (png.size() + kMinPngPadding > targetSize)
        return std::nullopt;
    const size_t dataSize = targetSize - png.size() - 12;
    std::vector<uint8_t> text(dataSize, ' ');
    static const char keyword[] = "Comment";
    std::memcpy(text.data(), keyword, 8); // keyword and its NUL separator
    static const char note[] = "QUIMBLES data, made by make-data.";
    std::memcpy(text.data() + 8, note, std::min(dataSize - 8, sizeof note - 1));
    std::vector<uint8_t> out(png.begin(), png.end() - 12); // everything before IEND
    PutPngChunk(out, "tEXt", text.data(), text.size());
    PutPngChunk(out, "IEND", nullptr, 0);
    return out;
}

} // namespace makedata

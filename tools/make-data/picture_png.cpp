// From canvas to PNG at an exact size: dithering, palette reduction and the fitting loop.
#include "pictures.h"

#include <cstdio>
#include <cstdlib>

namespace makedata {
namespace {

struct Box {
    std::vector<uint32_t> colours; // packed 0xRRGGBB
};

// Median cut: splits the colour box with the widest channel range at its median until there are 256.
std::vector<uint8_t> MedianCutPalette(const std::vector<uint8_t>& rgb) {
    std::vector<Box> boxes(1);
    for (size_t i = 0; i + 2 < rgb.size(); i += 3)
        boxes[0].colours.push_back((uint32_t(rgb[i]) << 16) | (uint32_t(rgb[i + 1]) << 8) | rgb[i + 2]);
    while (boxes.size() < 256) {
        int pick = -1, pickChannel = 0, pickRange = 0;
        for (size_t b = 0; b < boxes.size(); ++b) {
            if (boxes[b].colours.size() < 2)
                continue;
            for (int ch = 0; ch < 3; ++ch) {
                int lo = 255, hi = 0;
                for (uint32_t c : boxes[b].colours) {
                    int v = (c >> (16 - 8 * ch)) & 255;
                    lo = std::min(lo, v);
                    hi = std::max(hi, v);
                }
                // Weight by population so the busy boxes get the finer colours.
                int score = (hi - lo) * int(Sqrt(double(boxes[b].colours.size())));
                if (score > pickRange) {
                    pickRange = score;
                    pick = int(b);
                    pickChannel = ch;
                }
            }
        }
        if (pick < 0)
            break;
        std::vector<uint32_t>& cs = boxes[pick].colours;
        int shift = 16 - 8 * pickChannel;
        std::stable_sort(cs.begin(), cs.end(),
                         [&](uint32_t a, uint32_t b) { return ((a >> shift) & 255) < ((b >> shift) & 255); });
        Box upper;
        upper.colours.assign(cs.begin() + cs.size() / 2, cs.end());
        cs.resize(cs.size() / 2);
        boxes.push_back(std::move(upper));
    }
    std::vector<uint8_t> palette(256 * 3, 0);
    for (size_t b = 0; b < boxes.size(); ++b) {
        uint64_t sum[3] = {0, 0, 0};
        for (uint32_t c : boxes[b].colours)
            for (int ch = 0; ch < 3; ++ch)
                sum[ch] += (c >> (16 - 8 * ch)) & 255;
        for (int ch = 0; ch < 3; ++ch)
            palette[b * 3 + ch] = uint8_t((sum[ch] + boxes[b].colours.size() / 2) / boxes[b].colours.size());
    }
    return palette;
}

// Maps each pixel to its nearest palette entry after an ordered dither of `spread` steps.
std::vector<uint8_t> MapToPalette(const Canvas& c, const std::vector<uint8_t>& palette, double spread) {
    static const int bayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
    std::vector<uint8_t> out(size_t(c.width) * c.height);
    for (int y = 0; y < c.height; ++y)
        for (int x = 0; x < c.width; ++x) {
            const Rgb& p = c.At(x, y);
            double d = ((bayer[y & 3][x & 3] + 0.5) / 16.0 - 0.5) * spread;
            int r = int(Clamp01(p.r) * 255 + d), g = int(Clamp01(p.g) * 255 + d), b = int(Clamp01(p.b) * 255 + d);
            int best = 0, bestDist = 1 << 30;
            for (int i = 0; i < 256; ++i) {
                int dr = r - palette[i * 3], dg = g - palette[i * 3 + 1], db = b - palette[i * 3 + 2];
                int dist = 3 * dr * dr + 4 * dg * dg + 2 * db * db;
                if (dist < bestDist) {
                    bestDist = dist;
                    best = i;
                }
            }
            out[size_t(y) * c.width + x] = uint8_t(best);
        }
    return out;
}

} // namespace

std::vector<uint8_t> CanvasToPng(const Canvas& canvas, size_t targetSize, bool palette, size_t idatSplit) {
    PngPicture p;
    p.width = canvas.width;
    p.height = canvas.height;
    std::vector<uint8_t> pal;
    if (palette) {
        p.colourType = 3;
        pal = MedianCutPalette(ToRgb8(canvas, 0));
    }
    // More dither means less banding but a bigger file. At the finest posterize level where the plain
    // conversion fits, raise the dither step by step and keep the last variant that still fits (the size grows
    // with the dither, so the first miss ends the search).
    const double grains[] = {0, 1, 2, 3, 4, 6, 8, 12, 16, 24};
    for (int posterize = 0; posterize < 4; ++posterize) {
        std::optional<std::vector<uint8_t>> best;
        for (double grain : grains) {
            if (palette && grain > 12)
                break; // a stronger ordered dither shows as a cross-hatch over 256 colours
            if (palette) {
                p.palette = pal;
                p.samples = MapToPalette(canvas, pal, grain);
            } else {
                p.samples = ToRgb8(canvas, grain);
                for (uint8_t& v : p.samples)
                    v = uint8_t(v & ~((1 << posterize) - 1));
            }
            std::vector<uint8_t> png = EncodePng(p, idatSplit);
            std::optional<std::vector<uint8_t>> padded = PadPng(png, targetSize);
            if (std::getenv("MAKE_DATA_VERBOSE"))
                std::fprintf(stderr, "  grain %g posterize %d: %zu bytes\n", grain, posterize, png.size());
            if (!padded)
                break;
            best = std::move(padded);
        }
        if (best)
            return *best;
    }
    std::fprintf(stderr, "make-data: a picture does not fit in %zu bytes\n", targetSize);
    std::exit(1);
}

} // namespace makedata

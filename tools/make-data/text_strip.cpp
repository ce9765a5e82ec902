// The text strip: four lines of 380 × 72, one per picture scene, stacked from the top. Coverage lives in the
// alpha byte; a soft dark shadow around the letters keeps them readable over bright pictures.
#include "art.h"
#include "data_set.h"
#include "font.h"
#include "png_writer.h"

#include <cstdio>
#include <cstdlib>

namespace makedata {

struct StripLine {
    const char* text;
    uint32_t top, bottom; // the letters' colour gradient
};

const StripLine kStripLines[4] = {
    {"Soft things dream loud.", 0xFFF0FA, 0xFF9FCB},
    {"Two moons, one lantern.", 0xFFF3D6, 0xFFB45A},
    {"Down where the light hums.", 0xE8FFFF, 0x6FE3F0},
    {"Holidays at sixty hertz.", 0xFFF6E0, 0xFF8A6A},
};

namespace {

constexpr int kLineWidth = 380, kLineHeight = 72;

void DrawLine(std::vector<uint8_t>& rgba, int lineIndex) {
    const StripLine& line = kStripLines[lineIndex];
    const std::string font = "DejaVuSans-Bold.ttf";
    int size = 36;
    while (TextWidth(font, size, line.text) > kLineWidth - 16)
        --size;
    Mask m{kLineWidth, kLineHeight, std::vector<uint8_t>(kLineWidth * kLineHeight, 0)};
    const int baseline = 46;
    DrawText(m, font, size, line.text, 4, baseline);
    // Shadow: the coverage spread over a 5 × 5 neighbourhood, moved 2 pixels right and down.
    std::vector<double> shadow(kLineWidth * kLineHeight, 0);
    for (int y = 0; y < kLineHeight; ++y)
        for (int x = 0; x < kLineWidth; ++x) {
            int sum = 0;
            for (int dy = -2; dy <= 2; ++dy)
                for (int dx = -2; dx <= 2; ++dx)
                    sum += m.At(x - 2 + dx, y - 2 + dy);
            shadow[y * kLineWidth + x] = std::min(1.0, sum / (255.0 * 9));
        }
    const Rgb top = Hex(line.top), bottom = Hex(line.bottom);
    for (int y = 0; y < kLineHeight; ++y)
        for (int x = 0; x < kLineWidth; ++x) {
            double cover = m.At(x, y) / 255.0, shade = shadow[y * kLineWidth + x] * 0.75;
            double alpha = cover + shade * (1 - cover);
            Rgb ink = MixRgb(top, bottom, Smooth(baseline - size * 0.75, baseline, y));
            // Colour over the shadow's black, un-premultiplied by the combined alpha.
            Rgb colour = alpha > 0 ? ink * (cover / alpha) : Rgb{0, 0, 0};
            uint8_t* p = &rgba[((lineIndex * kLineHeight + y) * kLineWidth + x) * 4];
            p[0] = uint8_t(Clamp01(colour.r) * 255 + 0.5);
            p[1] = uint8_t(Clamp01(colour.g) * 255 + 0.5);
            p[2] = uint8_t(Clamp01(colour.b) * 255 + 0.5);
            p[3] = uint8_t(Clamp01(alpha) * 255 + 0.5);
        }
}

} // namespace

std::vector<uint8_t> MakeTextStrip(size_t size) {
    PngPicture p;
    p.width = kLineWidth;
    p.height = kLineHeight * 4;
    p.colourType = 6;
    p.samples.assign(size_t(p.width) * p.height * 4, 0);
    for (int i = 0; i < 4; ++i)
        DrawLine(p.samples, i);
    std::vector<uint8_t> png = EncodePng(p);
    std::optional<std::vector<uint8_t>> padded = PadPng(png, size);
    if (!padded) {
        std::fprintf(stderr, "make-data: the text strip does not fit in %zu bytes\n", size);
        std::exit(1);
    }
    return *padded;
}

} // namespace makedata

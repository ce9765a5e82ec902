#include "video_frame.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// The show's picture, each value an n x n block from (left, top) of a frame `pitch` values wide: bgr0 words or the
// bytes of one plane.
template <class Value> void ScaleBlocks(const Value* in, int n, int left, int top, int pitch, Value* out) {
    out += size_t(top) * pitch + left;
    for (int y = 0; y < ShowHeight; y++, in += ShowWidth, out += size_t(n) * pitch) {
        for (int x = 0; x < ShowWidth; x++) {
            std::fill_n(out + x * n, n, in[x]);
        }
        for (int k = 1; k < n; k++) {
            std::memcpy(out + size_t(k) * pitch, out, sizeof(Value) * ShowWidth * n);
        }
    }
}

} // namespace

FrameLayout MakeFrameLayout(int scale, int width, int height) {
    return {scale, width, height, (width - ShowWidth * scale) / 2 & ~1, (height - ShowHeight * scale) / 2 & ~1};
}

void ScaleWords(const uint32_t* pixels, const FrameLayout& layout, uint32_t* frame) {
    ScaleBlocks(pixels, layout.scale, layout.left, layout.top, layout.width, frame);
}

size_t PlaneBytes(const FrameLayout& layout, bool chroma444) {
    const size_t luma = size_t(layout.width) * layout.height;
    return chroma444 ? 3 * luma : luma + 2 * (luma / 4);
}

void BlackPlanes(const FrameLayout& layout, bool chroma444, uint8_t* frame) {
    const size_t luma = size_t(layout.width) * layout.height;
    std::memset(frame, 16, luma);
    std::memset(frame + luma, 128, PlaneBytes(layout, chroma444) - luma);
}

void ScalePlanes(const uint32_t* pixels, const FrameLayout& layout, bool chroma444, uint8_t* frame) {
    // BT.709 in limited range, in 16.16 fixed point: Y' = 16 + 219/255 (0.2126 R + 0.7152 G + 0.0722 B), and Cb, Cr
    // 128 + 224/255 of (B - Y) / 1.8556 and (R - Y) / 1.5748 on the full-range Y.
    static std::vector<uint8_t> y(ShowWidth * ShowHeight), cb(y.size()), cr(y.size());
    for (size_t i = 0; i < y.size(); i++) {
        const int r = pixels[i] >> 16 & 255, g = pixels[i] >> 8 & 255, b = pixels[i] & 255;
        y[i] = uint8_t((11966 * r + 40254 * g + 4064 * b + (16 << 16) + 32768) >> 16);
        cb[i] = uint8_t((-6597 * r - 22187 * g + 28784 * b + (128 << 16) + 32768) >> 16);
        cr[i] = uint8_t((28784 * r - 26147 * g - 2637 * b + (128 << 16) + 32768) >> 16);
    }
    const int n = layout.scale, width = layout.width, height = layout.height;
    const size_t luma = size_t(width) * height;
    ScaleBlocks(y.data(), n, layout.left, layout.top, width, frame);
    if (chroma444) {
        ScaleBlocks(cb.data(), n, layout.left, layout.top, width, frame + luma);
        ScaleBlocks(cr.data(), n, layout.left, layout.top, width, frame + 2 * luma);
        return;
    }
    // Chroma sample (i, j) covers pixels 2i, 2i + 1 of rows 2j, 2j + 1 of the picture (it starts at an even place).
    const int pitch = width / 2;
    for (const auto& [plane, out] : {std::pair{&cb, frame + luma}, std::pair{&cr, frame + luma + luma / 4}}) {
        uint8_t* row = out + size_t(layout.top / 2) * pitch + layout.left / 2;
        for (int j = 0; j < ShowHeight * n / 2; j++, row += pitch) {
            const uint8_t* above = plane->data() + (2 * j / n) * ShowWidth;
            const uint8_t* below = plane->data() + ((2 * j + 1) / n) * ShowWidth;
            for (int i = 0; i < ShowWidth * n / 2; i++) {
                const int x0 = 2 * i / n, x1 = (2 * i + 1) / n;
                row[i] = uint8_t((above[x0] + above[x1] + below[x0] + below[x1] + 2) >> 2);
            }
        }
    }
}

// The frame buffer and the three effects of the picture scenes. Integer arithmetic with fixed shifts only:
// the look of the fades depends on rounding exactly as below.
#include "show/effects.h"

#include <cstdlib>
#include <cstring>

#include "app/display.h"

uint32_t* FrameBuffer = nullptr;
TextRect CurrentTextRect = {0, 0, 0, 0};

bool AllocFrameBuffer() {
    // Not cleared: the script clears it before the first use.
    FrameBuffer = static_cast<uint32_t*>(std::malloc(size_t(ScreenWidth) * size_t(ScreenHeight) * 4));
    if (!FrameBuffer) {
        SetShowError("out of memory for the frame buffer");
        return false;
    }
    return true;
}

void FreeFrameBuffer() {
    std::free(FrameBuffer);
    FrameBuffer = nullptr;
}

void ClearFrame() {
    if (FrameBuffer) {
        std::memset(FrameBuffer, 0, size_t(ScreenWidth) * size_t(ScreenHeight) * 4);
    }
}

void FadePicture(int32_t level) {
    if (!FrameBuffer) {
        return;
    }
    const uint8_t* source = Picture.pixels;
    if (!source) {
        // LoadPicture refuses anything but 640 x 480 x 4 bytes, so this only happens when a caller forgot to load.
        std::memset(FrameBuffer, 0, 640 * 480 * 4);
        return;
    }
    const uint32_t scale = uint32_t(level);
    for (int i = 0; i < 640 * 480; i++) {
        const uint32_t r = (source[0] * scale) >> 8;
        const uint32_t g = (source[1] * scale) >> 8;
        const uint32_t b = (source[2] * scale) >> 8;
        FrameBuffer[i] = (r << 16) + (g << 8) + b;
        source += 4;
    }
}

void SetTextRect(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    CurrentTextRect = {x0, y0, x1, y1};
}

void DrawTextStrip(int32_t x, int32_t y, int32_t intensity) {
    const TextRect rect = CurrentTextRect;
    // The rectangle must lie inside the strip; otherwise there is nothing we may read.
    if (!FrameBuffer || !TextStrip.pixels || TextStrip.isGrey || rect.x0 < 0 || rect.y0 < 0 || rect.x1 <= rect.x0 ||
        rect.y1 <= rect.y0 || rect.x1 > TextStrip.width || rect.y1 > TextStrip.height) {
        return;
    }
    const int32_t w = rect.x1 - rect.x0;
    const int32_t h = rect.y1 - rect.y0;
    int64_t cols = (int64_t(x) + w > ScreenWidth) ? int64_t(ScreenWidth) - x : w;
    int64_t rows = (int64_t(y) + h > ScreenHeight) ? int64_t(ScreenHeight) - y : h;
    int64_t sx = rect.x0, dx = x;
    int64_t sy = rect.y0, dy = y;
    if (x < 0) {
        sx = int64_t(rect.x0) - x;
        cols += x;
        dx = 0;
    }
    if (y < 0) {
        sy = int64_t(rect.y0) - y;
        rows += y;
        dy = 0;
    }
    if (rows <= 0 || cols <= 0) {
        return;
    }
    const size_t stride = size_t(TextStrip.width) * 4;
    const uint32_t level = uint32_t(intensity);
    for (int64_t row = 0; row < rows; row++) {
        const uint8_t* s = TextStrip.pixels + size_t(sy + row) * stride + size_t(sx) * 4;
        uint32_t* d = FrameBuffer + size_t(dy + row) * size_t(ScreenWidth) + size_t(dx);
        for (int64_t col = 0; col < cols; col++) {
            const uint32_t a = s[3];
            const uint32_t n = 255 - a;
            const uint32_t pixel = *d;
            // The weights sum to 255 but the shift divides by 256: full white text gives 254, not 255.
            const uint32_t r = (a * ((s[0] * level) >> 8) + n * ((pixel >> 16) & 0xFF)) >> 8;
            const uint32_t g = (a * ((s[1] * level) >> 8) + n * ((pixel >> 8) & 0xFF)) >> 8;
            const uint32_t b = (a * ((s[2] * level) >> 8) + n * (pixel & 0xFF)) >> 8;
            *d++ = (r << 16) + (g << 8) + b;
            s += 4;
        }
    }
}

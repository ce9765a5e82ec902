// The three effects of the picture scenes. Integer arithmetic with fixed shifts only:
// the look of the fades depends on rounding exactly as below.
#include "show/effects.h"

#include <cstdlib>
#include <cstring>

#include "app/cpu.h"

int EffectsPath = 2;
struct TextRect {
    int32_t x0, y0, x1, y1; // x1 and y1 exclusive
};
static TextRect CurrentTextRect = {0, 0, 0, 0};

static void FadeTail(const uint8_t* p, uint32_t* target, uint32_t* end, uint32_t level) {
    for (; target < end; target++, p += 4) {
        const uint32_t r = (p[0] * level) >> 8;
        const uint32_t g = (p[1] * level) >> 8;
        const uint32_t b = (p[2] * level) >> 8;
        *target = (r << 16) + (g << 8) + b;
    }
}

#if QUIMBLES_X86_DISPATCH
// The same with eight pixels at a time, where the processor has AVX2; one byte shuffle swaps R and B.
[[gnu::target("avx2")]] static void FadeRunAvx2(const uint8_t* source, uint32_t* target, size_t count, uint32_t level) {
    size_t i = 0;
    const __m256i zero = _mm256_setzero_si256();
    const int16_t l = int16_t(level);
    const __m256i scale = _mm256_set_epi16(0, l, l, l, 0, l, l, l, 0, l, l, l, 0, l, l, l);
    const __m256i swap = _mm256_setr_epi8(2, 1, 0, 3, 6, 5, 4, 7, 10, 9, 8, 11, 14, 13, 12, 15, 2, 1, 0, 3, 6, 5, 4, 7,
                                          10, 9, 8, 11, 14, 13, 12, 15);
    for (; i + 8 <= count; i += 8) {
        const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(source + 4 * i));
        const __m256i low = _mm256_mulhi_epu16(_mm256_unpacklo_epi8(zero, bytes), scale);
        const __m256i high = _mm256_mulhi_epu16(_mm256_unpackhi_epi8(zero, bytes), scale);
        const __m256i words = _mm256_shuffle_epi8(_mm256_packus_epi16(low, high), swap);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(target + i), words);
    }
    FadeTail(source + 4 * i, target + i, target + count, level);
}
#endif

// Every channel is (value x level) >> 8. Four pixels at a time: each byte goes to the top of a 16-bit lane,
// and the high half of its product with the level is exactly (value x level) >> 8; the alpha lanes are
// multiplied by 0. R and B swap places on the way: the picture is R, G, B, A in memory, the frame word
// 0x00RRGGBB is B, G, R, 0 in memory.
[[gnu::noinline]] static void FadeRun(const uint8_t* source, uint32_t* target, size_t count, uint32_t level) {
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const int16_t l = int16_t(level);
    const __m128i scale = _mm_set_epi16(0, l, l, l, 0, l, l, l);
    for (; EffectsPath > 0 && i + 4 <= count; i += 4) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + 4 * i));
        __m128i low = _mm_mulhi_epu16(_mm_unpacklo_epi8(zero, bytes), scale);
        __m128i high = _mm_mulhi_epu16(_mm_unpackhi_epi8(zero, bytes), scale);
        low = _mm_shufflehi_epi16(_mm_shufflelo_epi16(low, _MM_SHUFFLE(3, 0, 1, 2)), _MM_SHUFFLE(3, 0, 1, 2));
        high = _mm_shufflehi_epi16(_mm_shufflelo_epi16(high, _MM_SHUFFLE(3, 0, 1, 2)), _MM_SHUFFLE(3, 0, 1, 2));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(target + i), _mm_packus_epi16(low, high));
    }
#endif
    FadeTail(source + 4 * i, target + i, target + count, level);
}

#if defined(__SSE2__)
// Two pixels of text over two frame words, in 16-bit lanes: A x t + (255 - A) x D never exceeds 255 x 255,
// so every sum of the blend fits its lane.
static inline __m128i BlendTwo(__m128i text, __m128i frame, __m128i intensity) {
    const __m128i full = _mm_set1_epi16(255);
    const __m128i colourMask = _mm_set_epi16(0, -1, -1, -1, 0, -1, -1, -1);
    // text lanes R, G, B, A -> B, G, R, A to match the frame's memory order
    text = _mm_shufflehi_epi16(_mm_shufflelo_epi16(text, _MM_SHUFFLE(3, 0, 1, 2)), _MM_SHUFFLE(3, 0, 1, 2));
    const __m128i a = _mm_shufflehi_epi16(_mm_shufflelo_epi16(text, _MM_SHUFFLE(3, 3, 3, 3)), _MM_SHUFFLE(3, 3, 3, 3));
    const __m128i n = _mm_sub_epi16(full, a);
    const __m128i scaled = _mm_srli_epi16(_mm_mullo_epi16(text, intensity), 8);
    const __m128i sum = _mm_add_epi16(_mm_mullo_epi16(a, scaled), _mm_mullo_epi16(n, frame));
    return _mm_and_si128(_mm_srli_epi16(sum, 8), colourMask);
}
#endif

static void BlendRun(const uint8_t* s, uint32_t* d, int64_t count, uint32_t level) {
    int64_t col = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i intensity = _mm_set1_epi16(int16_t(level));
    for (; EffectsPath > 0 && col + 4 <= count; col += 4) {
        const __m128i text = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 4 * col));
        const __m128i frame = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + col));
        const __m128i low = BlendTwo(_mm_unpacklo_epi8(text, zero), _mm_unpacklo_epi8(frame, zero), intensity);
        const __m128i high = BlendTwo(_mm_unpackhi_epi8(text, zero), _mm_unpackhi_epi8(frame, zero), intensity);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + col), _mm_packus_epi16(low, high));
    }
#endif
    for (; col < count; col++) {
        const uint8_t* p = s + 4 * col;
        const uint32_t a = p[3];
        const uint32_t n = 255 - a;
        const uint32_t pixel = d[col];
        // The weights sum to 255 but the shift divides by 256: full white text gives 254, not 255.
        const uint32_t r = (a * ((p[0] * level) >> 8) + n * ((pixel >> 16) & 0xFF)) >> 8;
        const uint32_t g = (a * ((p[1] * level) >> 8) + n * ((pixel >> 8) & 0xFF)) >> 8;
        const uint32_t b = (a * ((p[2] * level) >> 8) + n * (pixel & 0xFF)) >> 8;
        d[col] = (r << 16) + (g << 8) + b;
    }
}

void FadePicture(int32_t level) {
    if (!FrameBuffer) {
        return;
    }
    if (!Picture.pixels) {
        // LoadPicture refuses anything but 640 x 480 x 4 bytes, so this only happens when a caller forgot to load.
        std::memset(FrameBuffer, 0, FrameWidth * FrameHeight * 4);
        return;
    }
    // Levels outside 0..256 are never asked for; holding them there keeps the products within 16 bits.
    const uint32_t scale = uint32_t(level < 0 ? 0 : level > 256 ? 256 : level);
#if QUIMBLES_X86_DISPATCH
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2 && EffectsPath >= 2) {
        FadeRunAvx2(Picture.pixels, FrameBuffer, FrameWidth * FrameHeight, scale);
        return;
    }
#endif
    FadeRun(Picture.pixels, FrameBuffer, FrameWidth * FrameHeight, scale);
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
    int64_t cols = (int64_t(x) + w > FrameWidth) ? int64_t(FrameWidth) - x : w;
    int64_t rows = (int64_t(y) + h > FrameHeight) ? int64_t(FrameHeight) - y : h;
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
    // Intensities outside 0..256 are never asked for; holding them there keeps the blend within 16 bits.
    const uint32_t level = uint32_t(intensity < 0 ? 0 : intensity > 256 ? 256 : intensity);
    for (int64_t row = 0; row < rows; row++) {
        BlendRun(TextStrip.pixels + size_t(sy + row) * stride + size_t(sx) * 4,
                 FrameBuffer + size_t(dy + row) * size_t(FrameWidth) + size_t(dx), cols, level);
    }
}

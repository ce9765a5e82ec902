// The PNG row filters, plain and with SSE4.1.
//
// The plain functions are the reference and the only code where the processor lacks SSE4.1 (or is not x86). The
// vector versions do the same arithmetic on whole pixels: Up and None many pixels at a time; Sub on four RGBA
// pixels at once as a running sum; Average and Paeth one pixel at a time, since each pixel needs the one before
// it, but with all of its samples in one register.
#include "image/png_filters.h"

#include <cstring>

#include "app/cpu.h"
#include "image/png.h"

int PngFilterPath = 1;

uint8_t PaethPredictor(int a, int b, int c) {
    return static_cast<uint8_t>(Paeth(a, b, c));
}

namespace {

// Pixels of In samples (3 or 4) to RGBA pixels; for In = 3 the fourth byte is `alpha`. a is the left pixel as
// written, c the one above it. The filter is a template argument so each loop is compiled for one filter.
template <int In, int Filter>
void PixelsPlain(const uint8_t* in, uint8_t* out, const uint8_t* prev, size_t width, uint8_t alpha) {
    uint8_t a[4] = {0, 0, 0, 0}, c[4] = {0, 0, 0, 0};
    for (size_t x = 0; x < width; ++x, in += In, out += 4, prev += 4) {
        for (int k = 0; k < In; ++k) {
            const int b = Filter >= 2 ? prev[k] : 0; // None and Sub are also run without a row above
            const int p = Filter == 0   ? 0
                          : Filter == 1 ? a[k]
                          : Filter == 2 ? b
                          : Filter == 3 ? (a[k] + b) >> 1
                                        : Paeth(a[k], b, c[k]);
            a[k] = static_cast<uint8_t>(in[k] + p);
            c[k] = static_cast<uint8_t>(b);
        }
        std::memcpy(out, a, In);
        if (In == 3)
            out[3] = alpha;
    }
}

template <int In>
void PixelRowPlain(const uint8_t* in, uint8_t* out, const uint8_t* prev, size_t width, uint8_t f, uint8_t alpha) {
    switch (f) {
    case 0:
        PixelsPlain<In, 0>(in, out, prev, width, alpha);
        break;
    case 1:
        PixelsPlain<In, 1>(in, out, prev, width, alpha);
        break;
    case 2:
        PixelsPlain<In, 2>(in, out, prev, width, alpha);
        break;
    case 3:
        PixelsPlain<In, 3>(in, out, prev, width, alpha);
        break;
    default: // 4, and every larger value
        PixelsPlain<In, 4>(in, out, prev, width, alpha);
        break;
    }
}

void ByteRowPlain(const uint8_t* in, uint8_t* out, const uint8_t* prev, size_t n, uint8_t filter) {
    int a = 0, c = 0;
    switch (filter) {
    case 0:
        std::memmove(out, in, n);
        break;
    case 1:
        for (size_t i = 0; i < n; ++i)
            out[i] = static_cast<uint8_t>(a = (in[i] + a) & 0xFF);
        break;
    case 2:
        for (size_t i = 0; i < n; ++i)
            out[i] = static_cast<uint8_t>(in[i] + prev[i]);
        break;
    case 3:
        for (size_t i = 0; i < n; ++i)
            out[i] = static_cast<uint8_t>(a = (in[i] + ((a + prev[i]) >> 1)) & 0xFF);
        break;
    default:
        for (size_t i = 0; i < n; ++i) {
            const int b = prev[i];
            out[i] = static_cast<uint8_t>(a = (in[i] + Paeth(a, b, c)) & 0xFF);
            c = b;
        }
        break;
    }
}

#if QUIMBLES_X86_DISPATCH

#define VECTOR [[gnu::target("sse4.1")]]

VECTOR inline __m128i Load16(const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

VECTOR inline void Store16(uint8_t* p, __m128i v) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

VECTOR inline __m128i Load4(const uint8_t* p) {
    int32_t v;
    std::memcpy(&v, p, 4);
    return _mm_cvtsi32_si128(v);
}

VECTOR inline void Store4(uint8_t* p, __m128i v) {
    const int32_t w = _mm_cvtsi128_si32(v);
    std::memcpy(p, &w, 4);
}

// A pixel of In samples at p, in the low four bytes; for In = 3 the fourth byte is whatever follows.
template <int In> VECTOR inline __m128i LoadPixel(const uint8_t* p) {
    return Load4(p);
}

// Four pixels of In samples at p as four RGBA pixels with alpha 0 (for In = 3 the load reaches 16 bytes).
template <int In> VECTOR inline __m128i LoadFour(const uint8_t* p) {
    if (In == 4)
        return Load16(p);
    const __m128i spread = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    return _mm_shuffle_epi8(Load16(p), spread);
}

// The alpha byte of RGB pixels put in: `keep` selects R, G and B, `alphas` holds the alpha in every fourth byte.
struct AlphaFill {
    __m128i keep, alphas;
};

template <int In> VECTOR inline __m128i WithAlpha(__m128i v, const AlphaFill& fill) {
    if (In == 4)
        return v;
    return _mm_or_si128(_mm_and_si128(v, fill.keep), fill.alphas);
}

template <int In>
VECTOR void PixelsNone(const uint8_t* in, uint8_t* out, const uint8_t* prev, size_t width, const AlphaFill& fill,
                       uint8_t alpha) {
    size_t x = 0;
    for (; x + 4 <= width; x += 4)
        Store16(out + 4 * x, WithAlpha<In>(LoadFour<In>(in + In * x), fill));
    PixelsPlain<In, 0>(in + In * x, out + 4 * x, prev + 4 * x, width - x, alpha);
}

template <int In>
VECTOR void PixelsUp(const uint8_t* in, uint8_t* out, const uint8_t* prev, size_t width, const AlphaFill& fill,
                     uint8_t alpha) {
    size_t x = 0;
    for (; x + 4 <= width; x += 4) {
        const __m128i v = _mm_add_epi8(LoadFour<In>(in + In * x), Load16(prev + 4 * x));
        Store16(out + 4 * x, WithAlpha<In>(v, fill));
    }
    PixelsPlain<In, 2>(in + In * x, out + 4 * x, prev + 4 * x, width - x, alpha);
}

// Sub as a running sum: within four pixels by two shifted additions, then the last pixel before them added to all.
template <int In> VECTOR void PixelsSub(const uint8_t* in, uint8_t* out, size_t width, const AlphaFill& fill) {
    __m128i a = _mm_setzero_si128();
    size_t x = 0;
    for (; x + 4 <= width; x += 4) {
        __m128i v = LoadFour<In>(in + In * x);
        v = _mm_add_epi8(v, _mm_slli_si128(v, 4));
        v = _mm_add_epi8(v, _mm_slli_si128(v, 8));
        v = _mm_add_epi8(v, a);
        a = _mm_shuffle_epi32(v, 0xFF);
        Store16(out + 4 * x, WithAlpha<In>(v, fill));
    }
    for (; x < width; ++x) {
        a = _mm_add_epi8(LoadPixel<In>(in + In * x), a);
        Store4(out + 4 * x, WithAlpha<In>(a, fill));
    }
}

// Average: floor((a + b) / 2) is the rounded-up mean less the bit the two disagree on in the lowest place.
template <int In>
VECTOR void PixelsAverage(const uint8_t* in, uint8_t* out, const uint8_t* prev, size_t width, const AlphaFill& fill) {
    const __m128i one = _mm_set1_epi8(1);
    __m128i a = _mm_setzero_si128();
    for (size_t x = 0; x < width; ++x) {
        const __m128i b = Load4(prev + 4 * x);
        const __m128i mean = _mm_sub_epi8(_mm_avg_epu8(a, b), _mm_and_si128(_mm_xor_si128(a, b), one));
        a = _mm_add_epi8(LoadPixel<In>(in + In * x), mean);
        Store4(out + 4 * x, WithAlpha<In>(a, fill));
    }
}

// Paeth in 16-bit lanes. |b - c| does not depend on the left pixel and is worked out off the critical path; the
// choice follows the plain code: a unless pb or pc is smaller than pa, then b unless pc is smaller than pb.
template <int In>
VECTOR void PixelsPaeth(const uint8_t* in, uint8_t* out, const uint8_t* prev, size_t width, const AlphaFill& fill) {
    const __m128i low = _mm_set1_epi16(0xFF);
    __m128i a = _mm_setzero_si128(), c = _mm_setzero_si128();
    for (size_t x = 0; x < width; ++x) {
        const __m128i b = _mm_cvtepu8_epi16(Load4(prev + 4 * x));
        const __m128i raw = _mm_cvtepu8_epi16(LoadPixel<In>(in + In * x));
        const __m128i bc = _mm_sub_epi16(b, c);
        const __m128i pa = _mm_abs_epi16(bc);
        const __m128i ac = _mm_sub_epi16(a, c);
        const __m128i pb = _mm_abs_epi16(ac);
        const __m128i pc = _mm_abs_epi16(_mm_add_epi16(ac, bc));
        const __m128i bOrC = _mm_blendv_epi8(b, c, _mm_cmpgt_epi16(pb, pc));
        const __m128i predictor = _mm_blendv_epi8(a, bOrC, _mm_cmpgt_epi16(pa, _mm_min_epi16(pb, pc)));
        a = _mm_and_si128(_mm_add_epi16(raw, predictor), low);
        c = b;
        Store4(out + 4 * x, WithAlpha<In>(_mm_packus_epi16(a, a), fill));
    }
}

template <int In>
VECTOR void PixelRowVector(const uint8_t* in, uint8_t* out, const uint8_t* prev, size_t width, uint8_t filter,
                           uint8_t alpha) {
    const AlphaFill fill = {_mm_set1_epi32(0x00FFFFFF), _mm_set1_epi32(int32_t(uint32_t(alpha) << 24))};
    switch (filter) {
    case 0:
        if (In == 4)
            std::memmove(out, in, 4 * width);
        else
            PixelsNone<In>(in, out, prev, width, fill, alpha);
        break;
    case 1:
        PixelsSub<In>(in, out, width, fill);
        break;
    case 2:
        PixelsUp<In>(in, out, prev, width, fill, alpha);
        break;
    case 3:
        PixelsAverage<In>(in, out, prev, width, fill);
        break;
    default:
        PixelsPaeth<In>(in, out, prev, width, fill);
        break;
    }
}

VECTOR void ByteRowUp(const uint8_t* in, uint8_t* out, const uint8_t* prev, size_t n) {
    size_t i = 0;
    for (; i + 16 <= n; i += 16)
        Store16(out + i, _mm_add_epi8(Load16(in + i), Load16(prev + i)));
    for (; i < n; ++i)
        out[i] = static_cast<uint8_t>(in[i] + prev[i]);
}

bool UseVector() {
    static const bool sse41 = __builtin_cpu_supports("sse4.1");
    return sse41 && PngFilterPath >= 1;
}

#undef VECTOR

#endif

} // namespace

void UnfilterByteRow(const uint8_t* in, uint8_t* out, const uint8_t* prev, size_t length, uint8_t filter) {
#if QUIMBLES_X86_DISPATCH
    // A running sum, mean or Paeth predictor of one-byte pixels leaves nothing to do side by side.
    if (filter == 2 && UseVector()) {
        ByteRowUp(in, out, prev, length);
        return;
    }
#endif
    ByteRowPlain(in, out, prev, length, filter);
}

void UnfilterRgbaRow(const uint8_t* in, uint8_t* out, const uint8_t* prev, size_t width, uint8_t filter) {
#if QUIMBLES_X86_DISPATCH
    if (UseVector()) {
        PixelRowVector<4>(in, out, prev, width, filter, 0);
        return;
    }
#endif
    PixelRowPlain<4>(in, out, prev, width, filter, 0);
}

void UnfilterRgbRow(const uint8_t* in, uint8_t* out, const uint8_t* prev, size_t width, uint8_t filter, uint8_t alpha) {
#if QUIMBLES_X86_DISPATCH
    if (UseVector()) {
        PixelRowVector<3>(in, out, prev, width, filter, alpha);
        return;
    }
#endif
    PixelRowPlain<3>(in, out, prev, width, filter, alpha);
}

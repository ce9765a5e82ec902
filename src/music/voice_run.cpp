// Straight runs of a voice: finding how far the positions stay evenly spaced, and rendering those frames side by
// side. Every path computes each frame with the same double operations in the same order as the frame-by-frame
// renderers, so all of them give the same bits.
#include "music/voice_run.h"

#include <cstring>

#include "app/cpu.h"

int VoiceRunPath = 2;

namespace {

// How long to go frame by frame when the position cannot start a run at all (too few frames left in the tick, not a
// positive normal float) and, at most, at a loop's end while a slow step reaches the turn.
constexpr int32_t RetryFrames = 16;

double PowerOfTwo(int32_t n) {
    const uint64_t bits = static_cast<uint64_t>(n + 1023) << 52;
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// The 16-bit left and right halves of a frame, in memory order.
void PutPair(int16_t* out, int32_t v, int32_t left) {
    out[0] = static_cast<int16_t>(left);
    out[1] = static_cast<int16_t>(v - left);
}

// A backward run reads the data mirrored at `mirror`: frame i interpolates from data[mirror - i] towards
// data[mirror - i - 1]. A forward run has mirror 0 and reads data[i] and data[i + 1].
void RunPlain(const int16_t* data, int32_t mirror, double p, double d, int32_t frames, double amp, double pan,
              int16_t* out) {
    for (int32_t k = 0; k < frames; ++k, out += 2) {
        const double x = p + k * d;
        const int32_t i = static_cast<int32_t>(x);
        const double frac = x - i;
        const int32_t s0 = mirror ? data[mirror - i] : data[i];
        const int32_t s1 = mirror ? data[mirror - i - 1] : data[i + 1];
        const int32_t v = static_cast<int32_t>((s0 + frac * (s1 - s0)) * amp);
        PutPair(out, v, static_cast<int32_t>(v * pan));
    }
}

#if defined(__SSE2__)
// Two frames per vector. The positions p + k x d are formed by adding 2d, which is exact: every sum is a multiple
// of the float spacing below the next power of two.
template <bool Backward>
void RunSse2(const int16_t* data, int32_t mirror, double p, double d, int32_t frames, double amp, double pan,
             int16_t* out) {
    // Backward, the 32-bit load at mirror - i - 1 holds the two samples the other way round.
    const __m128i base = _mm_set1_epi32(mirror - 1);
    const __m128d vamp = _mm_set1_pd(amp);
    const __m128d vpan = _mm_set1_pd(pan);
    const __m128d twoSteps = _mm_set1_pd(2 * d);
    const __m128i lowHalf = _mm_set1_epi32(0xFFFF);
    __m128d x = _mm_set_pd(p + d, p);
    int32_t k = 0;
    for (; k + 2 <= frames; k += 2) {
        const __m128i i = _mm_cvttpd_epi32(x);
        const __m128d frac = _mm_sub_pd(x, _mm_cvtepi32_pd(i));
        const __m128i at = Backward ? _mm_sub_epi32(base, i) : i;
        int32_t w0, w1; // both samples of a frame in one 32-bit load
        std::memcpy(&w0, data + _mm_cvtsi128_si32(at), 4);
        std::memcpy(&w1, data + _mm_cvtsi128_si32(_mm_srli_si128(at, 4)), 4);
        const __m128i w = _mm_set_epi32(0, 0, w1, w0);
        const __m128i low = _mm_srai_epi32(_mm_slli_epi32(w, 16), 16);
        const __m128i high = _mm_srai_epi32(w, 16);
        const __m128i s0 = Backward ? high : low;
        const __m128i s1 = Backward ? low : high;
        const __m128d diff = _mm_cvtepi32_pd(_mm_sub_epi32(s1, s0));
        const __m128d s = _mm_add_pd(_mm_cvtepi32_pd(s0), _mm_mul_pd(frac, diff));
        const __m128i v = _mm_cvttpd_epi32(_mm_mul_pd(s, vamp));
        const __m128i left = _mm_cvttpd_epi32(_mm_mul_pd(_mm_cvtepi32_pd(v), vpan));
        const __m128i right = _mm_sub_epi32(v, left);
        const __m128i pairs = _mm_or_si128(_mm_and_si128(left, lowHalf), _mm_slli_epi32(right, 16));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 2 * k), pairs);
        x = _mm_add_pd(x, twoSteps);
    }
    RunPlain(data, mirror, p + k * d, d, frames - k, amp, pan, out + 2 * k);
}
#endif

#if QUIMBLES_X86_DISPATCH
// Four frames from the addresses of their sample pairs and their fractions, packed as 16-bit left and right halves.
// A backward pair holds s1 first, then s0. Centred splits v in halves, which is exactly trunc(v x 0.5).
template <bool Backward, bool Centred>
[[gnu::target("avx2")]] inline __m128i InterpolateFour(const int16_t* data, __m128i at, __m256d frac, __m256d vamp,
                                                       __m256d vpan) {
    int32_t w0, w1, w2, w3; // both samples of a frame in one 32-bit load (a gather is slower than four loads)
    std::memcpy(&w0, data + _mm_cvtsi128_si32(at), 4);
    std::memcpy(&w1, data + _mm_extract_epi32(at, 1), 4);
    std::memcpy(&w2, data + _mm_extract_epi32(at, 2), 4);
    std::memcpy(&w3, data + _mm_extract_epi32(at, 3), 4);
    const __m128i w = _mm_set_epi32(w3, w2, w1, w0);
    const __m128i low = _mm_srai_epi32(_mm_slli_epi32(w, 16), 16);
    const __m128i high = _mm_srai_epi32(w, 16);
    const __m128i s0 = Backward ? high : low;
    const __m128i s1 = Backward ? low : high;
    const __m256d diff = _mm256_cvtepi32_pd(_mm_sub_epi32(s1, s0));
    const __m256d s = _mm256_add_pd(_mm256_cvtepi32_pd(s0), _mm256_mul_pd(frac, diff));
    const __m128i v = _mm256_cvttpd_epi32(_mm256_mul_pd(s, vamp));
    const __m128i left = Centred ? _mm_srai_epi32(_mm_add_epi32(v, _mm_srli_epi32(v, 31)), 1)
                                 : _mm256_cvttpd_epi32(_mm256_mul_pd(_mm256_cvtepi32_pd(v), vpan));
    const __m128i right = _mm_sub_epi32(v, left);
    return _mm_or_si128(_mm_and_si128(left, _mm_set1_epi32(0xFFFF)), _mm_slli_epi32(right, 16));
}

// Four frames per vector, two vectors per pass to keep both multipliers busy.
template <bool Backward>
[[gnu::target("avx2")]] inline __m128i FourFrames(const int16_t* data, __m128i base, __m256d x, __m256d vamp,
                                                  __m256d vpan) {
    const __m128i at = Backward ? _mm_sub_epi32(base, _mm256_cvttpd_epi32(x)) : _mm256_cvttpd_epi32(x);
    const __m256d frac = _mm256_sub_pd(x, _mm256_round_pd(x, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC));
    return InterpolateFour<Backward, false>(data, at, frac, vamp, vpan);
}

template <bool Backward>
[[gnu::target("avx2")]] void RunAvx2(const int16_t* data, int32_t mirror, double p, double d, int32_t frames,
                                     double amp, double pan, int16_t* out) {
    const __m128i base = _mm_set1_epi32(mirror - 1);
    const __m256d vamp = _mm256_set1_pd(amp);
    const __m256d vpan = _mm256_set1_pd(pan);
    const __m256d eightSteps = _mm256_set1_pd(8 * d);
    __m256d x0 = _mm256_set_pd(p + 3 * d, p + 2 * d, p + d, p);
    __m256d x1 = _mm256_set_pd(p + 7 * d, p + 6 * d, p + 5 * d, p + 4 * d);
    int32_t k = 0;
    for (; k + 8 <= frames; k += 8) {
        const __m128i first = FourFrames<Backward>(data, base, x0, vamp, vpan);
        const __m128i second = FourFrames<Backward>(data, base, x1, vamp, vpan);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * k), first);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * k + 8), second);
        x0 = _mm256_add_pd(x0, eightSteps);
        x1 = _mm256_add_pd(x1, eightSteps);
    }
    RunPlain(data, mirror, p + k * d, d, frames - k, amp, pan, out + 2 * k);
}
#endif

// Runs in fixed point. In a run every position is a multiple of the float spacing 2^-sh at the run's start, so
// position k is the integer P = p0 + k x step in those units: its index is P >> sh and its fraction f = P & (2^sh - 1)
// over 2^sh. Then s0 + frac x (s1 - s0), which the double arithmetic gets exactly, is exactly
// (s0 x (2^sh - f) + s1 x f) / 2^sh, one multiply-add of 16-bit pairs while sh is at most 14 (positions from 512 up),
// and multiplying that integer by amp / 2^sh rounds to the same double as the frame-by-frame product. Below 512 the
// fraction is split at bit m = sh - 14 into f = fh x 2^m + fl, and the value is s0 x (2^14 - fh) + s1 x fh plus
// (s1 - s0) x fl / 2^m, still exact in a double. At steps below 2, four frames read at most eight samples, one
// 16-byte load that a byte shuffle spreads into the four pairs.
struct FixedRun {
    uint32_t p0;
    uint32_t step;
    int32_t shift;
};

// Whether a run from `pos` advancing by `advance` can go in fixed point, and its integers.
bool FixedRunOf(float pos, double advance, FixedRun& run) {
    uint32_t bits;
    std::memcpy(&bits, &pos, sizeof bits);
    const int32_t exponent = static_cast<int32_t>(bits >> 23) - 127; // 128 and up for a negative position
    if (exponent < 0 || exponent > 23 || !(advance < 2.0))
        return false;
    run.shift = 23 - exponent;
    run.p0 = (bits & 0x7FFFFF) | 0x800000;
    run.step = static_cast<uint32_t>(advance * PowerOfTwo(run.shift)); // a whole number of spacings, exactly
    return true;
}

#if QUIMBLES_X86_DISPATCH
template <bool Backward, bool Centred, bool Split>
[[gnu::target("avx2")]] void RunFixedAvx2(const int16_t* data, int32_t length, int32_t mirror, const FixedRun& run,
                                          int32_t frames, double amp, double pan, int16_t* out) {
    const int32_t sh = run.shift;
    const int32_t m = Split ? sh - 14 : 0;
    const __m256d vamp = _mm256_set1_pd(amp * PowerOfTwo(-(sh - m)));
    const __m256d lowScale = _mm256_set1_pd(PowerOfTwo(-m));
    const __m256i lowBits = _mm256_set1_epi32((1 << m) - 1);
    const __m128i highShift = _mm_cvtsi32_si128(m);
    const __m256d vpan = _mm256_set1_pd(pan);
    const __m256i fractionBits = _mm256_set1_epi32((1 << sh) - 1);
    const __m256i whole = _mm256_set1_epi32(1 << (sh - m));
    const __m128i shift = _mm_cvtsi32_si128(sh);
    const __m256i spread = _mm256_setr_epi8(0, 0, 0, 0, 4, 4, 4, 4, 8, 8, 8, 8, 12, 12, 12, 12, 0, 0, 0, 0, 4, 4, 4, 4,
                                            8, 8, 8, 8, 12, 12, 12, 12);
    const __m256i pairBytes = _mm256_set1_epi32(0x03020100);
    const __m256i lowHalves = _mm256_set1_epi32(0xFFFF);
    const __m256i top = _mm256_set1_epi32(mirror - 1);
    const uint32_t step = run.step;
    const __m256i lanes =
        _mm256_setr_epi32(0, static_cast<int32_t>(step), static_cast<int32_t>(2 * step), static_cast<int32_t>(3 * step),
                          static_cast<int32_t>(4 * step), static_cast<int32_t>(5 * step),
                          static_cast<int32_t>(6 * step), static_cast<int32_t>(7 * step));
    // Eight frames a pass, in two halves of four; a run has at least eight, and the last pass, when fewer are left,
    // renders the last eight again, with the same bits.
    for (int32_t k = 0; k < frames; k += 8) {
        if (k + 8 > frames)
            k = frames - 8;
        const uint32_t p = run.p0 + static_cast<uint32_t>(k) * step;
        const __m256i positions = _mm256_add_epi32(_mm256_set1_epi32(static_cast<int32_t>(p)), lanes);
        const __m256i index = _mm256_srl_epi32(positions, shift);
        // A pair's address: its index, or backward the lower of the two mirrored samples (s1 first, then s0).
        const __m256i at = Backward ? _mm256_sub_epi32(top, index) : index;
        // The lowest address of each half: at steps below 2, its four pairs lie within the eight samples from there.
        const int32_t low0 =
            Backward ? mirror - 1 - static_cast<int32_t>((p + 3 * step) >> sh) : static_cast<int32_t>(p >> sh);
        const int32_t low1 = Backward ? mirror - 1 - static_cast<int32_t>((p + 7 * step) >> sh)
                                      : static_cast<int32_t>((p + 4 * step) >> sh);
        __m256i pairs;
        if ((Backward ? low0 : low1) + 8 <= length) {
            const __m256i distance = _mm256_sub_epi32(at, _mm256_set_m128i(_mm_set1_epi32(low1), _mm_set1_epi32(low0)));
            const __m256i select =
                _mm256_add_epi32(_mm256_shuffle_epi8(_mm256_add_epi32(distance, distance), spread), pairBytes);
            const __m256i window = _mm256_set_m128i(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + low1)),
                                                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + low0)));
            pairs = _mm256_shuffle_epi8(window, select);
        } else {
            alignas(32) int32_t address[8]; // near the end of the data: one 32-bit load per pair
            _mm256_store_si256(reinterpret_cast<__m256i*>(address), at);
            alignas(32) int32_t w[8];
            for (int lane = 0; lane < 8; ++lane)
                std::memcpy(&w[lane], data + address[lane], 4);
            pairs = _mm256_load_si256(reinterpret_cast<const __m256i*>(w));
        }
        const __m256i fraction = _mm256_and_si256(positions, fractionBits);
        const __m256i f = Split ? _mm256_srl_epi32(fraction, highShift) : fraction;
        const __m256i g = _mm256_sub_epi32(whole, f);
        const __m256i weights =
            Backward ? _mm256_or_si256(f, _mm256_slli_epi32(g, 16)) : _mm256_or_si256(g, _mm256_slli_epi32(f, 16));
        // (s0 + frac x (s1 - s0)) x 2^(sh - m), exactly
        const __m256i products = _mm256_madd_epi16(pairs, weights);
        __m256d value0 = _mm256_cvtepi32_pd(_mm256_castsi256_si128(products));
        __m256d value1 = _mm256_cvtepi32_pd(_mm256_extracti128_si256(products, 1));
        if constexpr (Split) {
            const __m256i fl = _mm256_and_si256(fraction, lowBits);
            const __m256i minusFl = _mm256_sub_epi32(_mm256_setzero_si256(), fl);
            const __m256i lowWeights =
                Backward ? _mm256_or_si256(fl, _mm256_slli_epi32(minusFl, 16))
                         : _mm256_or_si256(_mm256_and_si256(minusFl, lowHalves), _mm256_slli_epi32(fl, 16));
            const __m256i low = _mm256_madd_epi16(pairs, lowWeights); // (s1 - s0) x fl
            value0 = _mm256_add_pd(value0, _mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_castsi256_si128(low)), lowScale));
            value1 =
                _mm256_add_pd(value1, _mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_extracti128_si256(low, 1)), lowScale));
        }
        const __m128i v0 = _mm256_cvttpd_epi32(_mm256_mul_pd(value0, vamp));
        const __m128i v1 = _mm256_cvttpd_epi32(_mm256_mul_pd(value1, vamp));
        const __m256i v = _mm256_set_m128i(v1, v0);
        // trunc(v x 0.5) is v / 2 rounded toward zero.
        const __m256i left = Centred
                                 ? _mm256_srai_epi32(_mm256_add_epi32(v, _mm256_srli_epi32(v, 31)), 1)
                                 : _mm256_set_m128i(_mm256_cvttpd_epi32(_mm256_mul_pd(_mm256_cvtepi32_pd(v1), vpan)),
                                                    _mm256_cvttpd_epi32(_mm256_mul_pd(_mm256_cvtepi32_pd(v0), vpan)));
        const __m256i right = _mm256_sub_epi32(v, left);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 2 * k),
                            _mm256_or_si256(_mm256_and_si256(left, lowHalves), _mm256_slli_epi32(right, 16)));
    }
}

template <bool Backward>
[[gnu::target("avx2")]] void RunFixedAvx2(const int16_t* data, int32_t length, int32_t mirror, const FixedRun& run,
                                          int32_t frames, double amp, double pan, int16_t* out) {
    const bool split = run.shift > 14;
    if (pan == 0.5 && split)
        RunFixedAvx2<Backward, true, true>(data, length, mirror, run, frames, amp, pan, out);
    else if (pan == 0.5)
        RunFixedAvx2<Backward, true, false>(data, length, mirror, run, frames, amp, pan, out);
    else if (split)
        RunFixedAvx2<Backward, false, true>(data, length, mirror, run, frames, amp, pan, out);
    else
        RunFixedAvx2<Backward, false, false>(data, length, mirror, run, frames, amp, pan, out);
}
#endif

#if QUIMBLES_X86_DISPATCH
// RenderPlainFrames four frames at a time: the four positions follow one another in float as ever, and everything
// after them goes side by side. Stops before a group with an index below 0 or with i + 1 at the limit, and leaves
// those frames to the frame-by-frame loop. Returns how many it rendered.
template <bool Centred>
[[gnu::target("avx2")]] int32_t PlainQuadsAvx2(const int16_t* data, int32_t limit, float& pos, float step,
                                               int32_t frames, double amp, double pan, int16_t* out) {
    const __m256d vamp = _mm256_set1_pd(amp);
    const __m256d vpan = _mm256_set1_pd(pan);
    const __m128i lastIndex = _mm_set1_epi32(limit - 2);
    float x = pos;
    int32_t k = 0;
    for (; k + 4 <= frames; k += 4) {
        const float x1 = x + step;
        const float x2 = x1 + step;
        const float x3 = x2 + step;
        const __m128 xs = _mm_setr_ps(x, x1, x2, x3);
        const __m128i i = _mm_cvttps_epi32(xs);
        const __m128i outside = _mm_or_si128(_mm_cmpgt_epi32(i, lastIndex), _mm_cmplt_epi32(i, _mm_setzero_si128()));
        if (_mm_movemask_ps(_mm_castsi128_ps(outside)) != 0)
            break;
        const __m256d frac = _mm256_cvtps_pd(_mm_sub_ps(xs, _mm_cvtepi32_ps(i)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * k),
                         InterpolateFour<false, Centred>(data, i, frac, vamp, vpan));
        x = x3 + step;
    }
    pos = x;
    return k;
}
#endif

} // namespace

StraightRun FindStraightRun(float pos, float step, int32_t limit, int32_t frames, int32_t minFrames) {
    uint32_t bits;
    std::memcpy(&bits, &pos, sizeof bits);
    const int32_t exponent = static_cast<int32_t>(bits >> 23); // above 254 for any negative position
    if (VoiceRunPath < 0)
        return {0, frames, 0.0};
    if (frames < minFrames || exponent == 0 || exponent >= 255 || !(step >= 0.0f))
        return {0, RetryFrames, 0.0};
    // pos lies in [top / 2, top), where floats are `spacing` apart.
    const double p = pos;
    const double top = PowerOfTwo(exponent - 126);
    const double spacing = PowerOfTwo(exponent - 150);
    const double last = static_cast<double>(limit) - 1.0; // every position of the run stays below this
    if (!(p < last)) {
        // At the loop's end: the frames until the position has passed limit + 1, where a loop has wrapped or
        // turned back and a run may start again, go one by one; a slow step takes RetryFrames at a time.
        const double toPass = (static_cast<double>(limit) + 1.0 - p) / step;
        const int32_t retry = !(toPass >= 0.0)           ? 1
                              : toPass < RetryFrames - 1 ? static_cast<int32_t>(toPass) + 1
                                                         : RetryFrames;
        return {0, retry, 0.0};
    }
    // Near 0 the powers of two come fast: a stretch between two of them that holds fewer frames than a run needs is
    // gone through one by one, together with the next ones that are as short, up to the first that holds four
    // times minFrames or the limit, whichever comes first.
    const auto shortStretches = [&](int64_t atLeast) -> StraightRun {
        double reach = top;
        while (reach < 4.0 * minFrames * step && reach < 2147483648.0)
            reach += reach;
        const double count = ((reach < last ? reach : last) - p) / step + 1.0;
        return {0,
                count > static_cast<double>(atLeast) ? static_cast<int32_t>(count < 4096.0 ? count : 4096.0)
                                                     : static_cast<int32_t>(atLeast),
                0.0};
    };
    if (!(step < top - p)) // the next frame already crosses into the next power of two
        return shortStretches(1);
    // Each addition rounds step to a whole number of spacings, the same number every time, unless step lies exactly
    // halfway between two, w + 1/2 spacings: then the sum rounds to the even multiple of the spacing. Every result
    // is even, and from an even position the even one of w and w + 1 is added each time; only an odd position first
    // takes one frame to reach an even one. As step < top - p <= top / 2, the number of spacings is below 2^23 and
    // converts to an integer exactly.
    const double ratio = step * PowerOfTwo(150 - exponent);
    const int32_t whole = static_cast<int32_t>(ratio);
    const double rest = ratio - whole;
    if (rest == 0.5 && (bits & 1) != 0)
        return {0, 1, 0.0};
    const bool roundsUp = rest > 0.5 || (rest == 0.5 && (whole & 1) != 0);
    const double advance = (roundsUp ? whole + 1 : whole) * spacing;

    // Most runs go to the end of the tick: test that first.
    const double end = p + static_cast<double>(frames - 1) * advance; // exact: multiples of spacing near top
    if (step < top - end && end < last)
        return {frames, 0, advance};
    // Otherwise the run ends before the frame whose addition would cross `top`, or whose index would reach
    // limit - 1. The estimate comes from a division; the exact test on the run's last position settles it.
    int64_t n = frames;
    if (advance > 0.0) {
        const double room = (top - step < last ? top - step : last) - p; // above 0 after the tests above
        const double estimate = room / advance;
        if (estimate < static_cast<double>(n - 1))
            n = static_cast<int64_t>(estimate) + 1;
    }
    while (n > 0) {
        const double lastPos = p + static_cast<double>(n - 1) * advance;
        if (step < top - lastPos && lastPos < last)
            break;
        --n;
    }
    if (n < minFrames)
        return shortStretches(n + 1);
    return {static_cast<int32_t>(n), 0, advance};
}

int32_t TakeStraightRun(const StraightRun& run, float& pos, float step, int32_t limit, int32_t framesLeft) {
    // The run's last addition stays below the power of two, so the frame after the run sits at the next evenly
    // spaced position, exactly; only its own addition leaves the run's spacing, and is done here in float.
    const double next = pos + run.frames * run.advance;
    if (run.frames < framesLeft && next < limit - 1.0) {
        pos = static_cast<float>(next) + step;
        return run.frames + 1;
    }
    pos = static_cast<float>(next);
    return run.frames;
}

void RenderStraightRun(const int16_t* data, int32_t length, int32_t mirror, float pos, double advance, int32_t frames,
                       double amp, double pan, int16_t* out) {
#if QUIMBLES_X86_DISPATCH
    static const bool avx2 = __builtin_cpu_supports("avx2");
    FixedRun fixed;
    if (avx2 && VoiceRunPath >= 2 && frames >= 8 && FixedRunOf(pos, advance, fixed)) {
        if (mirror)
            RunFixedAvx2<true>(data, length, mirror, fixed, frames, amp, pan, out);
        else
            RunFixedAvx2<false>(data, length, mirror, fixed, frames, amp, pan, out);
        return;
    }
    if (avx2 && VoiceRunPath >= 2) {
        if (mirror)
            RunAvx2<true>(data, mirror, pos, advance, frames, amp, pan, out);
        else
            RunAvx2<false>(data, mirror, pos, advance, frames, amp, pan, out);
        return;
    }
#endif
#if defined(__SSE2__)
    if (VoiceRunPath >= 1) {
        if (mirror)
            RunSse2<true>(data, mirror, pos, advance, frames, amp, pan, out);
        else
            RunSse2<false>(data, mirror, pos, advance, frames, amp, pan, out);
        return;
    }
#endif
    RunPlain(data, mirror, pos, advance, frames, amp, pan, out);
}

int32_t RenderPlainFrames(const int16_t* data, int32_t limit, float& pos, float step, int32_t frames, double amp,
                          double pan, int16_t* out) {
    int32_t k = 0;
#if QUIMBLES_X86_DISPATCH
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2 && VoiceRunPath >= 2 && frames >= 4) {
        k = pan == 0.5 ? PlainQuadsAvx2<true>(data, limit, pos, step, frames, amp, pan, out)
                       : PlainQuadsAvx2<false>(data, limit, pos, step, frames, amp, pan, out);
        out += 2 * k;
    }
#endif
    float x = pos;
    for (; k < frames; ++k, out += 2) {
        const int32_t i = static_cast<int32_t>(x);
        if (i < 0 || i >= limit - 1)
            break;
        const float frac = x - static_cast<float>(i);
        const int32_t s0 = data[i];
        const int32_t s1 = data[i + 1];
        const int32_t v = static_cast<int32_t>((s0 + static_cast<double>(frac) * (s1 - s0)) * amp);
        PutPair(out, v, static_cast<int32_t>(v * pan));
        x = x + step;
    }
    pos = x;
    return k;
}

// CRC-32 by folding: the message is a polynomial over GF(2), and a 128-bit block D bits before the end may be
// replaced by its product with x^D mod P without changing the remainder. Four blocks are folded 512 bits ahead at
// a time, then into one, which leaves 16 bytes whose CRC is that of the whole message.
#include "frame_crc.h"

#include "image/png.h"

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#define FRAME_CRC_CLMUL 1
#else
#define FRAME_CRC_CLMUL 0
#endif

namespace {

#if FRAME_CRC_CLMUL
// The CRC register after more bytes, bit by bit (reflected polynomial).
uint32_t RegisterAfter(uint32_t state, const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        state ^= p[i];
        for (int bit = 0; bit < 8; ++bit)
            state = (state >> 1) ^ (0xEDB88320u & (0u - (state & 1u)));
    }
    return state;
}

// x^k mod P for the two halves of a block folded D bits ahead (k = D + 32 for the first eight bytes, D - 32 for the
// last eight), bit-reflected like the data and shifted left by one for the reflected product.
constexpr long long Fold512First = 0x154442bd4, Fold512Last = 0x1c6e41596;
constexpr long long Fold128First = 0x1751997d0, Fold128Last = 0x0ccaa009e;

[[gnu::target("pclmul,sse2")]] inline __m128i Fold(__m128i block, __m128i constants) {
    return _mm_xor_si128(_mm_clmulepi64_si128(block, constants, 0x00), _mm_clmulepi64_si128(block, constants, 0x11));
}

[[gnu::target("pclmul,sse2")]] uint32_t FoldedCrc(uint32_t crc, const uint8_t* p, size_t n) {
    // The register's starting value is the same as XOR-ing it into the first four bytes.
    __m128i x0 = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), _mm_cvtsi32_si128(int(~crc)));
    __m128i x1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
    __m128i x2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32));
    __m128i x3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48));
    p += 64;
    n -= 64;
    const __m128i ahead512 = _mm_set_epi64x(Fold512Last, Fold512First);
    for (; n >= 64; p += 64, n -= 64) {
        x0 = _mm_xor_si128(Fold(x0, ahead512), _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
        x1 = _mm_xor_si128(Fold(x1, ahead512), _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16)));
        x2 = _mm_xor_si128(Fold(x2, ahead512), _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32)));
        x3 = _mm_xor_si128(Fold(x3, ahead512), _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48)));
    }
    const __m128i ahead128 = _mm_set_epi64x(Fold128Last, Fold128First);
    __m128i x = _mm_xor_si128(Fold(x0, ahead128), x1);
    x = _mm_xor_si128(Fold(x, ahead128), x2);
    x = _mm_xor_si128(Fold(x, ahead128), x3);
    for (; n >= 16; p += 16, n -= 16)
        x = _mm_xor_si128(Fold(x, ahead128), _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    alignas(16) uint8_t last[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(last), x);
    return ~RegisterAfter(RegisterAfter(0, last, 16), p, n);
}
#endif

} // namespace

uint32_t FrameCrc(uint32_t crc, const void* data, size_t bytes) {
#if FRAME_CRC_CLMUL
    static const bool clmul = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse2");
    if (clmul && bytes >= 64)
        return FoldedCrc(crc, static_cast<const uint8_t*>(data), bytes);
#endif
    return Crc32(crc, static_cast<const uint8_t*>(data), bytes);
}

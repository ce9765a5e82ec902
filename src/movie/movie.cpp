// Movie files: loading, finding a frame's record and stretching the decoded frame over the frame buffer.
#include "movie/movie.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "app/bytes.h"
#include "app/files.h"

static char movieError[256] = "";

const char* MovieError() {
    return movieError;
}

void SetMovieError(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(movieError, sizeof movieError, format, args);
    va_end(args);
}

uint8_t* MovieBuffer = nullptr;
int32_t MovieSize = 0;
int32_t MovieFrameCount = 0;
int32_t MovieRecordCount = 0;
int32_t LerpTable[65536];

static void FillLerpTable() {
    for (int a = 0; a < 256; a++) {
        for (int b = 0; b < 256; b++) {
            LerpTable[a * 256 + b] = (a * b) >> 8;
        }
    }
}

// The whole records after the header, never more than `frameCount`; a record needs at least its 4 length bytes, so
// this walk takes at most size / 4 steps.
static int32_t CountRecords(const uint8_t* bytes, int64_t size, int32_t frameCount) {
    int64_t offset = 9;
    int32_t records = 0;
    while (records < frameCount && offset + 4 <= size) {
        const int64_t next = offset + 4 + int64_t(ReadLe32(bytes + offset));
        if (next > size) {
            break;
        }
        records++;
        offset = next;
    }
    return records;
}

static bool TakeMovie(uint8_t* buffer, int32_t size, const char* name) {
    // The frame count sits after 5 header bytes that carry nothing we read.
    if (size < 9) {
        SetMovieError("%s: %d bytes, too short for a movie header", name, int(size));
        std::free(buffer);
        return false;
    }
    MovieBuffer = buffer;
    MovieSize = size;
    MovieFrameCount = int32_t(ReadLe32(buffer + 5));
    MovieRecordCount = CountRecords(buffer, size, MovieFrameCount);
    FillLerpTable();
    return true;
}

bool LoadMovie(const char* path, int32_t size) {
    FreeMovie();
    if (!WaitForFileSize(path, size)) {
        SetMovieError("%s", FileWaitError());
        return false;
    }
    uint8_t* buffer = nullptr;
    size_t got = 0;
    const ReadFileResult read = ReadWholeFile(path, SIZE_MAX, &buffer, &got, size_t(size));
    if (read == ReadFileOutOfMemory) {
        SetMovieError("%s: out of memory for %d bytes", path, int(size));
        return false;
    }
    if (read != ReadFileOk) {
        SetMovieError("%s: could read only %zu of %d bytes", path, got, int(size));
        return false;
    }
    return TakeMovie(buffer, size, path);
}

bool LoadMovieFromMemory(const uint8_t* bytes, size_t size) {
    FreeMovie();
    if (size > size_t(INT32_MAX)) {
        SetMovieError("movie of %zu bytes is too large", size);
        return false;
    }
    uint8_t* buffer = static_cast<uint8_t*>(std::malloc(size > 0 ? size : 1));
    if (!buffer) {
        SetMovieError("out of memory for a movie of %zu bytes", size);
        return false;
    }
    if (size > 0) {
        std::memcpy(buffer, bytes, size);
    }
    return TakeMovie(buffer, int32_t(size), "movie");
}

void FreeMovie() {
    MovieFrameCount = 0;
    MovieRecordCount = 0;
    std::free(MovieBuffer);
    MovieBuffer = nullptr;
    MovieSize = 0;
}

// Offset of frame i's record. The walk stays inside the buffer: when the records end before frame i
// (a count larger than the file, or a length running past its end) it stops at the last whole record.
// Returns -1 when there is not even one.
static int64_t FindRecord(int32_t i) {
    int64_t offset = 9;
    int64_t last = -1;
    for (int32_t n = 0;; n++) {
        if (offset + 4 > MovieSize) {
            return last;
        }
        const int64_t next = offset + 4 + int64_t(ReadLe32(MovieBuffer + offset));
        if (next > MovieSize) {
            return last;
        }
        if (n == i) {
            return offset;
        }
        last = offset;
        offset = next;
    }
}

// The movie is drawn on rows MovieTop..MovieBottom of the frame; the bands above and below stay black.
constexpr int MovieTop = 40;
constexpr int MovieBottom = 440;

// Screen positions of the source pixels, stepped by addition exactly as the rows and columns are walked.
struct StretchAxis {
    int32_t index[MovieFrameWidth > MovieFrameHeight ? MovieFrameWidth : MovieFrameHeight];
    int32_t fraction[MovieFrameWidth > MovieFrameHeight ? MovieFrameWidth : MovieFrameHeight];
};

static void StepAxis(StretchAxis* axis, int count, int32_t sourceSize, float factor) {
    const double step = double(sourceSize - 1) * double(factor);
    double s = 0;
    for (int n = 0; n < count; n++) {
        const int32_t whole = int32_t(s);
        axis->index[n] = whole;
        axis->fraction[n] = int32_t((s - whole) * 255);
        s += step;
    }
}

// a + (b - a) * f / 256 with the rounding of the table, which rounds the difference down in both directions.
static inline uint32_t Mix(uint32_t a, uint32_t b, const int32_t* row) {
    return b >= a ? a + uint32_t(row[b - a]) : a - uint32_t(row[a - b]);
}

#if defined(__SSE2__)
// Mix of eight 16-bit lanes a and b by fraction f (0..255) in each lane, as the table gives it: |b - a| x f stays
// below 65536, so the low half of the product shifted right is the table's (f x d) >> 8; the sign comes back after.
static inline __m128i MixLanes(__m128i a, __m128i b, __m128i f) {
    const __m128i d = _mm_sub_epi16(b, a);
    const __m128i sign = _mm_srai_epi16(d, 15);
    const __m128i size = _mm_max_epi16(d, _mm_sub_epi16(_mm_setzero_si128(), d));
    const __m128i step = _mm_srli_epi16(_mm_mullo_epi16(size, f), 8);
    return _mm_add_epi16(a, _mm_sub_epi16(_mm_xor_si128(step, sign), sign));
}
#endif

// out[x] = Mix(top[x], bottom[x]) by `fraction` for the `bytes` bytes of a row.
static void MixRows(const uint8_t* top, const uint8_t* bottom, uint8_t* out, size_t bytes, int32_t fraction) {
    size_t x = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i f = _mm_set1_epi16(int16_t(fraction));
    for (; x + 8 <= bytes; x += 8) {
        const __m128i a = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(top + x)), zero);
        const __m128i b = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(bottom + x)), zero);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + x), _mm_packus_epi16(MixLanes(a, b, f), zero));
    }
#endif
    const int32_t* row = LerpTable + fraction * 256;
    for (; x < bytes; x++) {
        out[x] = uint8_t(Mix(top[x], bottom[x], row));
    }
}

// One output row from the vertically mixed source row: each pixel mixes source columns index and index + 1 by
// its fraction, and the channels land as 0x00RRGGBB.
static void MixColumns(const uint8_t* mixed, const StretchAxis* columns, uint32_t* out) {
    int j = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i noAlpha = _mm_set_epi16(0, -1, -1, -1, 0, -1, -1, -1);
    for (; j + 2 <= MovieFrameWidth; j += 2) {
        // Pixels index and index + 1 of two output columns: lefts in the low half, rights in the high half.
        const __m128i first = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(mixed + size_t(columns->index[j]) * 4));
        const __m128i second =
            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(mixed + size_t(columns->index[j + 1]) * 4));
        const __m128i pairs = _mm_unpacklo_epi32(first, second);
        const int16_t f0 = int16_t(columns->fraction[j]), f1 = int16_t(columns->fraction[j + 1]);
        const __m128i f = _mm_set_epi16(f1, f1, f1, f1, f0, f0, f0, f0);
        __m128i rgba = MixLanes(_mm_unpacklo_epi8(pairs, zero), _mm_unpackhi_epi8(pairs, zero), f);
        // R G B A to B G R and a zero top byte.
        rgba = _mm_shufflehi_epi16(_mm_shufflelo_epi16(rgba, _MM_SHUFFLE(3, 0, 1, 2)), _MM_SHUFFLE(3, 0, 1, 2));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + j), _mm_packus_epi16(_mm_and_si128(rgba, noAlpha), zero));
    }
#endif
    for (; j < MovieFrameWidth; j++) {
        const uint8_t* left = mixed + size_t(columns->index[j]) * 4;
        const int32_t* horizontal = LerpTable + columns->fraction[j] * 256;
        uint32_t word = 0;
        for (int c = 0; c < 3; c++) {
            word = (word << 8) | Mix(left[c], left[4 + c], horizontal);
        }
        out[j] = word;
    }
}

static void ExpandGrey(Image* image) {
    const size_t count = size_t(image->width) * size_t(image->height);
    uint8_t* rgba = static_cast<uint8_t*>(std::malloc(count * 4));
    if (!rgba) {
        std::free(image->pixels);
        image->pixels = nullptr;
        return;
    }
    for (size_t k = 0; k < count; k++) {
        const uint8_t v = image->pixels[k];
        rgba[4 * k] = v;
        rgba[4 * k + 1] = v;
        rgba[4 * k + 2] = v;
        rgba[4 * k + 3] = 255;
    }
    std::free(image->pixels);
    image->pixels = rgba;
    image->isGrey = 0;
}

bool DrawMovieFrame(int32_t i, uint32_t* frame) {
    if (!frame) {
        return false;
    }
    std::memset(frame, 0, size_t(MovieFrameWidth) * size_t(MovieFrameHeight) * 4);
    if (!MovieBuffer || i < 0) {
        return false;
    }
    const int64_t offset = FindRecord(i);
    if (offset < 0) {
        SetMovieError("movie has no whole frame record");
        return false;
    }
    Image decoded = {};
    DecodeMovieFrame(MovieBuffer + offset, size_t(MovieSize - offset), &decoded);
    if (!decoded.pixels) {
        return false;
    }
    // One-component frames are shown as grey pictures rather than refused.
    if (decoded.isGrey) {
        ExpandGrey(&decoded);
        if (!decoded.pixels) {
            SetMovieError("out of memory for a grey frame");
            return false;
        }
    }
    const int32_t w = decoded.width;
    const int32_t h = decoded.height;
    if (w < 2 || h < 2) {
        SetMovieError("frame of %dx%d pixels is too small to stretch", int(w), int(h));
        std::free(decoded.pixels);
        return false;
    }
    // The factors are the single-precision values nearest 1/639 and 1/479.
    static StretchAxis columns, rows;
    StepAxis(&columns, MovieFrameWidth, w, 0.0015649452f);
    StepAxis(&rows, MovieFrameHeight, h, 0.0020876827f);
    // The stepping keeps the last column below w - 1 and the drawn rows below h - 1; should rounding ever
    // say otherwise, hold the sample inside the frame rather than read past it.
    for (int j = 0; j < MovieFrameWidth; j++) {
        if (columns.index[j] > w - 2) {
            columns.index[j] = w - 2;
        }
    }
    for (int r = MovieTop; r <= MovieBottom; r++) {
        if (rows.index[r] > h - 2) {
            rows.index[r] = h - 2;
        }
    }
    const uint8_t* pixels = decoded.pixels;
    const size_t stride = size_t(w) * 4;
    // The vertical mixes of a row pair, once per source column; each output pixel then mixes two of them.
    uint8_t* mixed = static_cast<uint8_t*>(std::malloc(stride + 16));
    if (!mixed) {
        SetMovieError("out of memory for a movie row");
        std::free(decoded.pixels);
        return false;
    }
    for (int r = MovieTop; r <= MovieBottom; r++) {
        const uint8_t* top = pixels + size_t(rows.index[r]) * stride;
        MixRows(top, top + stride, mixed, stride, rows.fraction[r]);
        MixColumns(mixed, &columns, frame + r * MovieFrameWidth);
    }
    std::free(mixed);
    std::free(decoded.pixels);
    return true;
}

int32_t CountMovieFrames(const char* path) {
    uint8_t* bytes = nullptr;
    size_t size = 0;
    if (ReadWholeFile(path, INT32_MAX, &bytes, &size) != ReadFileOk) {
        return 0;
    }
    const int32_t frames = size >= 9 ? CountRecords(bytes, int64_t(size), int32_t(ReadLe32(bytes + 5))) : 0;
    std::free(bytes);
    return frames;
}

// PNG reader for 8-bit, non-interlaced grey, RGB, palette and RGBA pictures.
//
// The whole file is read into memory and every chunk is checked against the file's end before it is touched.
// The IDAT chunks are inflated straight from the file image, one after the other as Inflate asks for them, each
// checked against its CRC just before: no copy of the image data is made. The image data is inflated into the end
// of the picture's own buffer, and each row is unfiltered and converted to the picture's layout in one go
// (png_filters.cpp), so the rows are touched twice: by Inflate and by the filters.
#include "image/png.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "app/bytes.h"
#include "app/cpu.h"
#include "app/files.h"
#include "image/inflate.h"
#include "image/png_filters.h"

namespace {

// A file as large as memory can hold.
constexpr size_t MaxFileBytes = PTRDIFF_MAX;

char ErrorLine[512];
uint32_t CrcTable[8][256];
bool CrcReady;

bool Refuse(Image* image, const char* name, const char* why) {
    std::snprintf(ErrorLine, sizeof ErrorLine, "%s: %s", name, why);
    *image = Image{};
    return false;
}

void MakeCrcTables() {
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k)
            c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        CrcTable[0][n] = c;
    }
    // Table k advances a byte through k more zero bytes, so eight bytes can be folded in at once.
    for (uint32_t n = 0; n < 256; ++n)
        for (int k = 1; k < 8; ++k)
            CrcTable[k][n] = CrcTable[0][CrcTable[k - 1][n] & 0xFF] ^ (CrcTable[k - 1][n] >> 8);
    CrcReady = true;
}

// The CRC register after n more bytes, eight at a time through the tables.
uint32_t TableCrc(uint32_t crc, const uint8_t* p, size_t n) {
    while (n >= 8) {
        uint32_t lo = crc ^ (uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
        crc = CrcTable[7][lo & 0xFF] ^ CrcTable[6][(lo >> 8) & 0xFF] ^ CrcTable[5][(lo >> 16) & 0xFF] ^
              CrcTable[4][lo >> 24] ^ CrcTable[3][p[4]] ^ CrcTable[2][p[5]] ^ CrcTable[1][p[6]] ^ CrcTable[0][p[7]];
        p += 8;
        n -= 8;
    }
    while (n--)
        crc = CrcTable[0][(crc ^ *p++) & 0xFF] ^ (crc >> 8);
    return crc;
}

#if QUIMBLES_X86_DISPATCH
// The same by folding, with carry-less multiplication: the message is a polynomial over GF(2), and a 128-bit block
// D bits before the end may be replaced by its product with x^D mod P without changing the remainder. Four blocks
// are folded 512 bits ahead at a time, then into one, which leaves 16 bytes with the remainder of all before them;
// those and the bytes after the last whole block go through the tables. The constants are x^k mod P for the two
// halves of a block folded D bits ahead (k = D + 32 for the first eight bytes, D - 32 for the last eight),
// bit-reflected like the data and shifted left by one for the reflected product. At least 64 bytes.
constexpr long long Fold512First = 0x154442bd4, Fold512Last = 0x1c6e41596;
constexpr long long Fold128First = 0x1751997d0, Fold128Last = 0x0ccaa009e;

[[gnu::target("pclmul,sse2")]] inline __m128i Fold(__m128i block, __m128i constants) {
    return _mm_xor_si128(_mm_clmulepi64_si128(block, constants, 0x00), _mm_clmulepi64_si128(block, constants, 0x11));
}

[[gnu::target("pclmul,sse2")]] inline __m128i Load128(const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

[[gnu::target("pclmul,sse2")]] uint32_t FoldedCrc(uint32_t crc, const uint8_t* p, size_t n) {
    // The register's value is the same as XOR-ing it into the first four bytes.
    __m128i x0 = _mm_xor_si128(Load128(p), _mm_cvtsi32_si128(int(crc)));
    __m128i x1 = Load128(p + 16), x2 = Load128(p + 32), x3 = Load128(p + 48);
    p += 64;
    n -= 64;
    const __m128i ahead512 = _mm_set_epi64x(Fold512Last, Fold512First);
    for (; n >= 64; p += 64, n -= 64) {
        x0 = _mm_xor_si128(Fold(x0, ahead512), Load128(p));
        x1 = _mm_xor_si128(Fold(x1, ahead512), Load128(p + 16));
        x2 = _mm_xor_si128(Fold(x2, ahead512), Load128(p + 32));
        x3 = _mm_xor_si128(Fold(x3, ahead512), Load128(p + 48));
    }
    const __m128i ahead128 = _mm_set_epi64x(Fold128Last, Fold128First);
    __m128i x = _mm_xor_si128(Fold(x0, ahead128), x1);
    x = _mm_xor_si128(Fold(x, ahead128), x2);
    x = _mm_xor_si128(Fold(x, ahead128), x3);
    for (; n >= 16; p += 16, n -= 16)
        x = _mm_xor_si128(Fold(x, ahead128), Load128(p));
    uint8_t last[16];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(last), x);
    return TableCrc(TableCrc(0, last, 16), p, n);
}
#endif

// The CRC register after n more bytes: by folding where the processor can and PngFilterPath allows, else through
// the tables (the reference).
uint32_t UpdateCrc(uint32_t crc, const uint8_t* p, size_t n) {
#if QUIMBLES_X86_DISPATCH
    static const bool clmul = __builtin_cpu_supports("pclmul");
    if (n >= 64 && clmul && PngFilterPath >= 1)
        return FoldedCrc(crc, p, n);
#endif
    return TableCrc(crc, p, n);
}

// Alpha of an RGB pixel under the luminance key. The weights are single-precision constants; the products and
// sums are double; the ramp uses L rounded to single precision.
uint8_t LuminanceAlpha(uint8_t r, uint8_t g, uint8_t b) {
    const double scale = 0.003921569f;
    const double red = 0.2f, green = 0.7f, blue = 0.1f;
    double l = b * scale * blue + g * scale * green + r * scale * red;
    if (l > 0.7)
        return 255;
    float rounded = static_cast<float>(l);
    if (rounded < 0.2)
        return 0;
    return static_cast<uint8_t>(static_cast<int>((rounded - 0.2) * 510));
}

// The alpha of every RGB pixel under a mode that does not look at the colour; the keyed modes start from 255.
uint8_t FixedAlpha(uint32_t mode) {
    return mode == AlphaHalf ? 128 : mode == AlphaFaint ? 70 : mode == AlphaStrong ? 150 : 255;
}

bool KeysByColour(uint32_t mode) {
    return mode == AlphaDarkKey || mode == AlphaLuminanceKey || mode == AlphaMagentaKey;
}

// The keyed alpha modes over one row of RGBA pixels unfiltered from RGB; the magenta key also clears the colour.
void KeyRgbRow(uint8_t* row, uint32_t width, uint32_t mode) {
    for (uint32_t x = 0; x < width; ++x, row += 4) {
        const uint8_t r = row[0], g = row[1], b = row[2];
        if (mode == AlphaDarkKey) {
            row[3] = r + g + b < 10 ? 0 : 255;
        } else if (mode == AlphaLuminanceKey) {
            row[3] = LuminanceAlpha(r, g, b);
        } else if (mode == AlphaMagentaKey && std::abs(r - 255) < 3 && g < 3 && std::abs(b - 255) < 3) {
            std::memset(row, 0, 4);
        }
    }
}

bool IsType(const uint8_t* type, const char* name) {
    return std::memcmp(type, name, 4) == 0;
}

} // namespace

uint64_t PngByteLimit = UINT64_MAX;

const char* PngError() {
    return ErrorLine;
}

uint32_t ChunkCrc(const uint8_t* type, const uint8_t* data, size_t dataLength) {
    if (!CrcReady)
        MakeCrcTables();
    return ~UpdateCrc(UpdateCrc(0xFFFFFFFFu, type, 4), data, dataLength);
}

uint32_t Crc32(uint32_t crc, const uint8_t* data, size_t bytes) {
    if (!CrcReady)
        MakeCrcTables();
    return ~UpdateCrc(~crc, data, bytes);
}

namespace {

// What the header chunk says, and the sizes that follow from it.
struct PngHeader {
    uint32_t width, height;
    uint8_t colourType;
    uint32_t bpp;           // bytes per pixel in the image data
    uint64_t stride;        // bytes per row, without the filter byte
    uint64_t inflatedBytes; // all rows with their filter bytes
    uint64_t pixelBytes;    // the Image's pixels
};

// The palette and where the image data starts, gathered from the chunks.
struct PngData {
    uint8_t palette[768] = {}; // indices beyond the entries a PLTE supplies read zeros
    size_t firstIdat = 0;      // offset of the first IDAT chunk; 0 for none
};

// The walk over the IDAT chunks from the first on, up to IEND: Inflate's source of the image data's pieces.
struct IdatWalk {
    const uint8_t* file;
    size_t fileLength;
    size_t at; // the next chunk
};

// The data of the next IDAT chunk whose CRC matches (a damaged one is dropped, the others still count), or null.
const uint8_t* NextIdat(void* context, size_t* length) {
    IdatWalk* walk = static_cast<IdatWalk*>(context);
    while (walk->at != 0 && walk->fileLength - walk->at >= 12) {
        const uint32_t n = ReadBe32(walk->file + walk->at);
        if (n > walk->fileLength - walk->at - 12)
            break;
        const uint8_t* type = walk->file + walk->at + 4;
        const uint8_t* data = type + 4;
        walk->at = IsType(type, "IEND") ? 0 : walk->at + 12 + size_t(n);
        if (IsType(type, "IDAT") && ChunkCrc(type, data, n) == ReadBe32(data + n)) {
            *length = n;
            return data;
        }
    }
    walk->at = 0;
    return nullptr;
}

// Signature (not compared), then the first chunk taken as IHDR: its length and type are not checked either.
bool ReadHeader(const uint8_t* file, size_t fileLength, const char* name, PngHeader* h, Image* image) {
    if (fileLength < 33)
        return Refuse(image, name, "file ends inside the header chunk");
    const uint8_t* header = file + 16;
    h->width = ReadBe32(header);
    h->height = ReadBe32(header + 4);
    const uint8_t depth = header[8], interlace = header[12];
    h->colourType = header[9];
    char why[128];
    if (depth != 8) {
        std::snprintf(why, sizeof why, "bit depth %u is not supported (only 8)", depth);
        return Refuse(image, name, why);
    }
    if (interlace != 0)
        return Refuse(image, name, "interlaced images are not supported");
    if (h->colourType != 0 && h->colourType != 2 && h->colourType != 3 && h->colourType != 6) {
        std::snprintf(why, sizeof why, "colour type %u is not supported", h->colourType);
        return Refuse(image, name, why);
    }
    // Any size the format can state is tried, 0 rows or 0 columns included; what the arithmetic below, the
    // Image's 32-bit fields or Inflate's 32-bit output count cannot hold is refused, as is what the caller's
    // byte limit forbids. Whether the rest fits in memory is the allocation's answer.
    if (h->width > 0x7FFFFFFFu || h->height > 0x7FFFFFFFu) {
        std::snprintf(why, sizeof why, "size %ux%u is not supported (at most 2147483647 a side)", h->width, h->height);
        return Refuse(image, name, why);
    }
    h->bpp = h->colourType == 0 || h->colourType == 3 ? 1 : h->colourType == 6 ? 4 : 3;
    h->stride = uint64_t(h->bpp) * h->width;
    h->inflatedBytes = (h->stride + 1) * h->height; // below 2^33 x 2^31
    const uint64_t pixelWidth = (h->colourType == 0 ? 1 : 4) * uint64_t(h->width);
    const uint64_t limit = std::min<uint64_t>(PngByteLimit, PTRDIFF_MAX);
    if (h->height > 0 &&
        (h->stride + 1 > std::min<uint64_t>(limit, UINT32_MAX) / h->height || pixelWidth > limit / h->height)) {
        std::snprintf(why, sizeof why, "size %ux%u is too large to decode", h->width, h->height);
        return Refuse(image, name, why);
    }
    h->pixelBytes = pixelWidth * h->height;
    return true;
}

// Walks the chunks after IHDR up to IEND: keeps the palette and the offset of the first IDAT chunk. A bad IHDR CRC
// leaves the picture all zero samples: no other chunk is read then.
bool GatherChunks(const uint8_t* file, size_t fileLength, const char* name, PngData* d, Image* image) {
    if (ChunkCrc(file + 12, file + 16, 13) != ReadBe32(file + 29))
        return true;
    char why[128];
    size_t pos = 33;
    while (pos < fileLength) {
        if (fileLength - pos < 12)
            return Refuse(image, name, "file ends inside a chunk");
        const uint32_t length = ReadBe32(file + pos);
        const uint8_t* type = file + pos + 4;
        const uint8_t* data = file + pos + 8;
        if (length > fileLength - pos - 12) {
            std::snprintf(why, sizeof why, "chunk of %u bytes runs past the end of the file", length);
            return Refuse(image, name, why);
        }
        pos += 12 + size_t(length);
        if (IsType(type, "PLTE")) {
            // Only 256 entries fit; the rest of a longer PLTE is ignored.
            std::memcpy(d->palette, data, length < 768 ? length : 768);
        } else if (IsType(type, "IDAT") && d->firstIdat == 0) {
            d->firstIdat = size_t(type - 4 - file);
        } else if (IsType(type, "IEND")) {
            break;
        }
    }
    return true;
}

// A large picture's buffer asks for huge pages where the system offers them: a fresh buffer is filled page by page,
// and with 4 KB pages the page faults cost a third of a 12-megapixel decode. Only whole aligned huge pages inside
// the buffer are advised; the rest of its memory is left as it is.
void AdviseHugePages(void* buffer, size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr uintptr_t HugePage = uintptr_t(2) << 20;
    const uintptr_t start = (uintptr_t(buffer) + HugePage - 1) & ~(HugePage - 1);
    const uintptr_t end = (uintptr_t(buffer) + bytes) & ~(HugePage - 1);
    if (bytes >= 4 * HugePage && end > start)
        madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
#else
    (void)buffer;
    (void)bytes;
#endif
}

// The picture is decoded in one buffer, the pixels from its start. The inflated rows (each a filter byte and its
// samples) are placed so that they end where the larger of the two ends: RGB and palette rows, which grow into
// RGBA, then lie far enough towards the end that the pixels written never reach a byte not yet read (at least
// `width` bytes ahead), and grey and RGBA rows, one byte longer each, start at the buffer's start and move towards
// it by one byte per row as they are unfiltered.
// Spare bytes after the end let the vector code load whole blocks.
constexpr size_t SpareBytes = 16;

// Unfilters every row straight into the picture's layout, the conversion to RGBA included. `zeros` stands for the
// row above the first.
void DecodeRows(const PngHeader& h, const PngData& d, uint8_t* pixels, uint8_t* rows, const uint8_t* zeros,
                int alphaMode) {
    const uint32_t mode = static_cast<uint32_t>(alphaMode) & 0xFF;
    const uint64_t outStride = h.colourType == 0 ? h.width : 4 * uint64_t(h.width);
    uint32_t colours[256]; // palette entries as RGBA words in memory order
    for (int i = 0; i < 256; ++i) {
        const uint8_t entry[4] = {d.palette[3 * i], d.palette[3 * i + 1], d.palette[3 * i + 2], 255};
        std::memcpy(colours + i, entry, 4);
    }
    const uint8_t* prevIndices = zeros;
    for (uint32_t y = 0; y < h.height; ++y) {
        uint8_t* row = rows + y * (h.stride + 1);
        const uint8_t filter = row[0];
        uint8_t* out = pixels + y * outStride;
        const uint8_t* prev = y == 0 ? zeros : out - outStride;
        switch (h.colourType) {
        case 0:
            UnfilterByteRow(row + 1, out, prev, h.width, filter);
            break;
        case 6:
            UnfilterRgbaRow(row + 1, out, prev, h.width, filter);
            break;
        case 3: {
            // Indices are unfiltered where they lie (the row above stays intact until this row is done), then
            // looked up.
            uint8_t* indices = row + 1;
            UnfilterByteRow(indices, indices, prevIndices, h.width, filter);
            for (uint32_t x = 0; x < h.width; ++x)
                std::memcpy(out + 4 * x, colours + indices[x], 4);
            prevIndices = indices;
            break;
        }
        default:
            UnfilterRgbRow(row + 1, out, prev, h.width, filter, FixedAlpha(mode));
            // The keys change pixels the next row still predicts from, so each row is keyed one row later.
            if (KeysByColour(mode) && y > 0)
                KeyRgbRow(out - outStride, h.width, mode);
            if (KeysByColour(mode) && y + 1 == h.height)
                KeyRgbRow(out, h.width, mode);
            break;
        }
    }
}

} // namespace

bool LoadPngFromMemory(const uint8_t* file, size_t fileLength, const char* name, Image* image, int alphaMode) {
    *image = Image{};
    PngHeader h;
    if (!ReadHeader(file, fileLength, name, &h, image))
        return false;
    PngData d;
    if (!GatherChunks(file, fileLength, name, &d, image))
        return false;
    // The buffer of the pixels, with the inflated rows at its end; one byte at least, so that an empty picture
    // has pixels too. The row above the first is zeros, as long as a row of pixels (which is never shorter than a
    // row of samples); ReadHeader has checked that it fits in memory's arithmetic when there are rows at all.
    const uint64_t bufferBytes = std::max(h.pixelBytes, h.inflatedBytes);
    const uint64_t zeroBytes = h.height > 0 ? h.pixelBytes / h.height : 0;
    uint8_t* pixels = static_cast<uint8_t*>(std::malloc(bufferBytes + SpareBytes));
    uint8_t* zeros = static_cast<uint8_t*>(std::calloc(zeroBytes + SpareBytes, 1));
    if (pixels)
        AdviseHugePages(pixels, bufferBytes);
    if (!pixels || !zeros) {
        std::free(pixels);
        std::free(zeros);
        char why[128];
        std::snprintf(why, sizeof why, "size %ux%u: out of memory", h.width, h.height);
        return Refuse(image, name, why);
    }
    uint8_t* rows = pixels + (bufferBytes - h.inflatedBytes);
    int64_t produced = 0;
    IdatWalk walk{file, fileLength, d.firstIdat};
    size_t firstLength = 0;
    if (const uint8_t* first = NextIdat(&walk, &firstLength)) {
        OutputLimit = static_cast<uint32_t>(h.inflatedBytes);
        produced = Inflate(first, firstLength, InflateSource{NextIdat, &walk}, rows, 0);
    }
    if (produced < 0) {
        std::free(pixels);
        std::free(zeros);
        char why[160];
        std::snprintf(why, sizeof why, "malformed image data: %s", InflateError());
        return Refuse(image, name, why);
    }
    // Rows the stream did not reach read as zero samples; the spare bytes are zeroed so nothing reads undefined.
    std::memset(rows + produced, 0, size_t(h.inflatedBytes - uint64_t(produced)) + SpareBytes);
    DecodeRows(h, d, pixels, rows, zeros, alphaMode);
    std::free(zeros);
    image->pixels = pixels;
    image->width = static_cast<int32_t>(h.width);
    image->height = static_cast<int32_t>(h.height);
    image->hasAlpha = h.colourType == 6;
    image->isGrey = h.colourType == 0;
    return true;
}

bool LoadPng(const char* path, Image* image, int alphaMode) {
    *image = Image{};
    uint8_t* file = nullptr;
    size_t got = 0;
    const ReadFileResult read = ReadWholeFile(path, MaxFileBytes, &file, &got);
    if (read != ReadFileOk)
        return Refuse(image, path, ReadFileReason(read));
    bool ok = LoadPngFromMemory(file, got, path, image, alphaMode);
    std::free(file);
    return ok;
}
